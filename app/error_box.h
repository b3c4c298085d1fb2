#pragma once
// The application's error box: a modal message with an error icon and OK.

#include <QString>

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The program file's name without directory and without anything from its
// first ".", every letter after the first in lower case.
QString ApplicationTitle(const QString& programPath);

// The message, with "." added when it is not empty and its last character
// sorts after ".".
QString ErrorBoxText(const std::string& message);

// Shows errors one box at a time. An error that comes while a box is up
// waits for it to be closed; several that pile up meanwhile share one box,
// each with how often it came.
class ErrorBox {
 public:
  // `present` shows one box and returns when the operator has closed it;
  // the default is the modal error box.
  explicit ErrorBox(QString title, std::function<void(const QString& text)> present = {});

  // On the user-interface thread, for an error a handler of the window's own
  // raised: the box comes up now, unless one is up already.
  void Show(const std::string& message);

  // From any thread, for an error a handler raised during a hand-over: the
  // box comes up from the event loop, after the hand-over has returned.
  void Post(const std::string& message);

 private:
  bool Add(const std::string& message);  // true when no box is due yet
  void ShowPending();

  QString title_;
  std::function<void(const QString&)> present_;
  std::mutex mutex_;
  std::vector<std::pair<std::string, int>> pending_;  // message, how often
  bool due_ = false;  // a box is up or queued to come up
};
