#pragma once
// The program's one window: the status log, the record pane, the device
// name, the four line-setting lists and the line controls, over the serial
// port component Comm32 and the 200 ms poll timer TmrX.
//
// Every handler runs on the user-interface thread: the control handlers and
// the timer from the event loop, the component's handlers through its
// hand-over. So the window's state needs no locks.

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "async32/comm32.h"
#include "protocol/poll_protocol.h"

namespace Ui {
class TForm1;
}
class TMemo;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // `showError` shows the message of an error that escaped a handler run
  // from the window's own controls or timer: the application's error box.
  // `port` is the serial port component, a plain TComm32 when none is given.
  explicit TForm1(std::function<void(const std::string& message)> showError = {},
                  QWidget* parent = nullptr, std::unique_ptr<async32::TComm32> port = {});
  ~TForm1() override;

  std::function<void(const std::string& message)> ShowError;

  // The newest status lines the status pane keeps, so that weeks of polling
  // cannot exhaust memory.
  static constexpr int kStatusLineLimit = 10000;

  async32::TComm32& Port() { return *Comm32; }
  QTimer& Timer() { return Protocol->Timer(); }
  TSaveDialog& LogFileHolder() { return Protocol->SaveDialog1; }
  TPollProtocol& Poll() { return *Protocol; }
  // The record state, readable for tests.
  const TRecord& RecordSlots() const { return Protocol->RecordSlots(); }
  int32_t RecordIndex() const { return Protocol->RecordIndex(); }
  bool AckPending() const { return Protocol->AckPending(); }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void FormCreate();
  void UpdateControls();

  void OpenButtonClick();
  void CloseButtonClick();
  void BaudRateComboChange();
  void DatabitsComboChange();
  void ParityComboChange();
  void StopBitsComboChange();
  void TransmitButtonClick();
  void Button1Click();
  void DTRCheckBoxClick();
  void RTSCheckBoxClick();
  void BreakCheckBoxClick();
  void XOffButtonClick();
  void XOnButtonClick();
  void TmrXTimer();

  void Comm32Open(async32::TCustomComm32* Sender, int32_t ProviderSubType, int32_t Error);
  void Comm32Break(async32::TCustomComm32* Sender);
  void Comm32Error(async32::TCustomComm32* Sender, int32_t Errors);
  void Comm32RxChar(async32::TCustomComm32* Sender, int32_t Count);
  void Comm32TxEmpty(async32::TCustomComm32* Sender);
  // Part of the window but bound to no event of Comm32.
  void Comm32CTS(async32::TCustomComm32* Sender);
  void Comm32DSR(async32::TCustomComm32* Sender);
  void Comm32Ring(async32::TCustomComm32* Sender);
  void Comm32RLSD(async32::TCustomComm32* Sender);
  void Comm32RxFlag(async32::TCustomComm32* Sender);

  void Status(const std::string& line);
  // Runs a handler of the window's own controls; an error it raises is shown
  // and the event loop goes on.
  void Guarded(const std::function<void()>& handler);
  template <typename Signal, typename Sender>
  void Bind(Sender* sender, Signal signal, void (TForm1::*handler)());

  std::unique_ptr<Ui::TForm1> ui;
  std::unique_ptr<async32::TComm32> Comm32;
  // The polling protocol over Comm32, with the tick TmrX; this window shows it.
  std::unique_ptr<TPollProtocol> Protocol;
};
