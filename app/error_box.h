#pragma once
// The application's error box: a modal message with an error icon and OK.

#include <QString>

#include <atomic>
#include <string>

// The program file's name without directory and without anything from its
// first ".", every letter after the first in lower case.
QString ApplicationTitle(const QString& programPath);

// The message, with "." added when it is not empty and its last character
// sorts after ".".
QString ErrorBoxText(const std::string& message);

class ErrorBox {
 public:
  explicit ErrorBox(QString title) : title_(std::move(title)) {}

  // Shows the box now and returns when the operator has closed it.
  void Show(const std::string& message);

  // From any thread, for an error a handler raised during a hand-over: the
  // box comes up from the event loop, after the hand-over has returned.
  // While one such box is up, further ones are not stacked on top.
  void Post(const std::string& message);

 private:
  QString title_;
  std::atomic<bool> postedBoxUp_{false};
};
