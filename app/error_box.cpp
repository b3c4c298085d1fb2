#include "app/error_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include <algorithm>

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

ErrorBox::ErrorBox(QString title, std::function<void(const QString&)> present)
    : title_(std::move(title)), present_(std::move(present)) {
  if (!present_) {
    present_ = [this](const QString& text) {
      QMessageBox(QMessageBox::Critical, title_, text, QMessageBox::Ok).exec();
    };
  }
}

bool ErrorBox::Add(const std::string& message) {
  std::lock_guard lock(mutex_);
  auto same = std::find_if(pending_.begin(), pending_.end(),
                           [&](const auto& p) { return p.first == message; });
  if (same != pending_.end()) {
    ++same->second;
  } else {
    pending_.emplace_back(message, 1);
  }
  return !std::exchange(due_, true);
}

void ErrorBox::Show(const std::string& message) {
  if (Add(message)) ShowPending();
}

void ErrorBox::Post(const std::string& message) {
  if (Add(message)) QMetaObject::invokeMethod(qApp, [this] { ShowPending(); }, Qt::QueuedConnection);
}

// Runs on the user-interface thread until no error waits any more.
void ErrorBox::ShowPending() {
  for (;;) {
    std::vector<std::pair<std::string, int>> errors;
    {
      std::lock_guard lock(mutex_);
      errors.swap(pending_);
      if (errors.empty()) {
        due_ = false;
        return;
      }
    }
    QStringList lines;
    for (const auto& [message, count] : errors) {
      lines << ErrorBoxText(message) + (count > 1 ? QString(" (%1 times)").arg(count) : QString());
    }
    present_(lines.join('\n'));
  }
}
