#include "app/error_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

QString ApplicationTitle(const QString& programPath) {
  const QString name = QFileInfo(programPath).fileName();
  const QString stem = name.left(name.indexOf('.') < 0 ? name.size() : name.indexOf('.'));
  return stem.left(1) + stem.mid(1).toLower();
}

QString ErrorBoxText(const std::string& message) {
  QString text = QString::fromStdString(message);
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') text += '.';
  return text;
}

void ErrorBox::Show(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, title_, ErrorBoxText(message), QMessageBox::Ok);
  box.exec();
}

void ErrorBox::Post(const std::string& message) {
  if (postedBoxUp_.exchange(true)) return;
  QMetaObject::invokeMethod(
      qApp,
      [this, message] {
        Show(message);
        postedBoxUp_ = false;
      },
      Qt::QueuedConnection);
}
