#include "udemo/form1.h"

#include <QComboBox>
#include <QEvent>
#include <QFontDatabase>

#include "datetime/date_time_text.h"
#include "udemo/memo.h"
#include "udemo/pane_text.h"
#include "ui_udemo.h"

using namespace async32;

namespace {

std::string OnOff(bool on) { return on ? "On" : "Off"; }

std::string Text(const QString& text) { return text.toStdString(); }

}  // namespace

TForm1::TForm1(std::function<void(const std::string&)> showError, QWidget* parent,
               std::unique_ptr<TComm32> port)
    : QWidget(parent),
      ShowError(std::move(showError)),
      ui(std::make_unique<Ui::TForm1>()),
      Comm32(port ? std::move(port) : std::make_unique<TComm32>()),
      Protocol(std::make_unique<TPollProtocol>(*Comm32)) {
  ui->setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(620, 360);
  // The layout is drawn for an 8-point text (11 pixels at 96 dpi); labels
  // size themselves to their text.
  QFont uiFont = font();
  uiFont.setPixelSize(11);
  setFont(uiFont);
  for (QLabel* label : {ui->Label1, ui->Label2, ui->Label3, ui->Label4, ui->Label5, ui->Label6}) {
    label->adjustSize();
  }
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  ui->Memo1->setFont(fixed);
  ui->Memo2->setFont(fixed);
  ui->Memo1->SetMaxLines(kStatusLineLimit);

  // The component's stored settings; FormCreate replaces the bit rate.
  Comm32->SetDeviceName("COM2");
  Comm32->SetBaudRate(cbr2400);
  ApplyProtocolSettings(*Comm32);
  Comm32->OnOpen = [this](TCustomComm32* s, int32_t p, int32_t e) { Comm32Open(s, p, e); };
  Comm32->OnBreak = [this](TCustomComm32* s) { Comm32Break(s); };
  Comm32->OnError = [this](TCustomComm32* s, int32_t e) { Comm32Error(s, e); };
  Comm32->OnRxChar = [this](TCustomComm32* s, int32_t c) { Comm32RxChar(s, c); };
  Comm32->OnTxEmpty = [this](TCustomComm32* s) { Comm32TxEmpty(s); };

  Protocol->OnStatus = [this](const std::string& line, TStatusKind) { Status(line); };
  Protocol->OnRecordLine = [this](std::string_view record, std::string_view stamp) {
    ui->Memo2->Add(PaneText(record) + QString::fromUtf8(stamp.data(), static_cast<qsizetype>(stamp.size())));
    ui->Memo2->RepaintNow();
  };
  Protocol->OnRecordLinesFull = [this] { ui->Memo2->Clear(); };

  Bind(ui->OpenButton, &QPushButton::clicked, &TForm1::OpenButtonClick);
  Bind(ui->CloseButton, &QPushButton::clicked, &TForm1::CloseButtonClick);
  // A list reacts to the operator's choice only, never to selection from code.
  Bind(ui->BaudRateCombo, &QComboBox::activated, &TForm1::BaudRateComboChange);
  Bind(ui->DatabitsCombo, &QComboBox::activated, &TForm1::DatabitsComboChange);
  Bind(ui->ParityCombo, &QComboBox::activated, &TForm1::ParityComboChange);
  Bind(ui->StopBitsCombo, &QComboBox::activated, &TForm1::StopBitsComboChange);
  Bind(ui->TransmitButton, &QPushButton::clicked, &TForm1::TransmitButtonClick);
  Bind(ui->Button1, &QPushButton::clicked, &TForm1::Button1Click);
  Bind(ui->DTRCheckBox, &QCheckBox::clicked, &TForm1::DTRCheckBoxClick);
  Bind(ui->RtsCheckBox, &QCheckBox::clicked, &TForm1::RTSCheckBoxClick);
  Bind(ui->BreakCheckBox, &QCheckBox::clicked, &TForm1::BreakCheckBoxClick);
  Bind(ui->XOffButton, &QPushButton::clicked, &TForm1::XOffButtonClick);
  Bind(ui->XOnButton, &QPushButton::clicked, &TForm1::XOnButtonClick);
  Bind(&Protocol->Timer(), &QTimer::timeout, &TForm1::TmrXTimer);

  Guarded([this] { FormCreate(); });
}

// The port is closed while the panes still exist, and no handler runs from
// here on: a hand-over still under way reaches no handler.
TForm1::~TForm1() {
  Comm32->Destroying();
  Protocol->Timer().stop();
  Comm32->Close();
}

template <typename Signal, typename Sender>
void TForm1::Bind(Sender* sender, Signal signal, void (TForm1::*handler)()) {
  connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
}

void TForm1::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    if (ShowError) ShowError(e.what());
  }
}

void TForm1::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) ReloadFormatSettings();
  QWidget::changeEvent(event);
}

void TForm1::Status(const std::string& line) { ui->Memo1->Add(QString::fromStdString(line)); }

void TForm1::FormCreate() {
  ui->BaudRateCombo->setCurrentIndex(ui->BaudRateCombo->findText("cbr4800"));
  ui->DatabitsCombo->setCurrentIndex(ui->DatabitsCombo->findText("da8"));
  ui->ParityCombo->setCurrentIndex(ui->ParityCombo->findText("paNone"));
  ui->StopBitsCombo->setCurrentIndex(ui->StopBitsCombo->findText("sb10"));
  Comm32->SetBaudRate(static_cast<TBaudRate>(ui->BaudRateCombo->currentIndex()));
  Comm32->SetDatabits(static_cast<TDatabits>(ui->DatabitsCombo->currentIndex()));
  Comm32->SetParity(static_cast<TParity>(ui->ParityCombo->currentIndex()));
  Comm32->SetStopbits(static_cast<TStopbits>(ui->StopBitsCombo->currentIndex()));
  ui->Memo2->Add("");
  UpdateControls();
}

void TForm1::UpdateControls() {
  // While a lost device is waited for, CLOSE stops the waiting.
  const bool open = Comm32->IsOpen() || Protocol->Waiting();
  for (QWidget* control : std::initializer_list<QWidget*>{ui->CloseButton, ui->DTRCheckBox,
                                                         ui->RtsCheckBox, ui->BreakCheckBox,
                                                         ui->XOnButton, ui->XOffButton}) {
    control->setEnabled(open);
  }
}

void TForm1::OpenButtonClick() {
  if (Comm32->IsOpen()) CloseButtonClick();
  Comm32->SetDeviceName(Text(ui->Edit1->text()));
  Comm32->Open();
}

void TForm1::CloseButtonClick() {
  Protocol->Close();
  UpdateControls();
}

void TForm1::BaudRateComboChange() {
  Comm32->SetBaudRate(static_cast<TBaudRate>(ui->BaudRateCombo->currentIndex()));
  Status("Baudrate: " + Text(ui->BaudRateCombo->currentText()));
}

void TForm1::DatabitsComboChange() {
  Comm32->SetDatabits(static_cast<TDatabits>(ui->DatabitsCombo->currentIndex()));
  Status("Databits: " + Text(ui->DatabitsCombo->currentText()));
}

void TForm1::ParityComboChange() {
  Comm32->SetParity(static_cast<TParity>(ui->ParityCombo->currentIndex()));
  Status("Parity: " + Text(ui->ParityCombo->currentText()));
}

void TForm1::StopBitsComboChange() {
  Comm32->SetStopbits(static_cast<TStopbits>(ui->StopBitsCombo->currentIndex()));
  Status("StopBits: " + Text(ui->StopBitsCombo->currentText()));
}

// The button stays hidden, so this never runs in normal use.
void TForm1::TransmitButtonClick() {
  std::string text = Text(ui->Edit2->text());
  if (ui->LfCheckBox->isChecked()) text += "\r\n";
  const int32_t written = Comm32->Write(text.data(), static_cast<int32_t>(text.size()));
  Status(written == -1 ? "Error!" : "Transmitting " + std::to_string(written) + " characters");
}

void TForm1::Button1Click() {
  ui->Memo1->Clear();
  ui->Memo2->Clear();
  ui->Memo2->Add("");
}

void TForm1::DTRCheckBoxClick() { Comm32->SetDTRState(ui->DTRCheckBox->isChecked()); }
void TForm1::RTSCheckBoxClick() { Comm32->SetRTSState(ui->RtsCheckBox->isChecked()); }
void TForm1::BreakCheckBoxClick() { Comm32->SetBREAKState(ui->BreakCheckBox->isChecked()); }
void TForm1::XOffButtonClick() { Comm32->SetXONState(false); }
void TForm1::XOnButtonClick() { Comm32->SetXONState(true); }

void TForm1::Comm32Open(TCustomComm32*, int32_t ProviderSubType, int32_t Error) {
  Protocol->Opened(ProviderSubType, Error);
  UpdateControls();
}

void TForm1::Comm32Break(TCustomComm32*) { Protocol->Break(); }
void TForm1::Comm32TxEmpty(TCustomComm32*) { Protocol->TxEmpty(); }
void TForm1::Comm32Error(TCustomComm32*, int32_t Errors) { Protocol->LineErrors(Errors); }
void TForm1::Comm32RxChar(TCustomComm32*, int32_t Count) { Protocol->Received(Count); }

void TForm1::Comm32CTS(TCustomComm32*) { Status("CTS SIGNAL: " + OnOff(Comm32->GetModemState(1))); }
void TForm1::Comm32DSR(TCustomComm32*) {
  Status("DSR SIGNAL: " + OnOff(Comm32->GetModemState(2)));
  UpdateControls();
}
void TForm1::Comm32Ring(TCustomComm32*) { Status("RING SIGNAL: " + OnOff(Comm32->GetModemState(3))); }
void TForm1::Comm32RLSD(TCustomComm32*) { Status("RLSD SIGNAL: " + OnOff(Comm32->GetModemState(4))); }
void TForm1::Comm32RxFlag(TCustomComm32*) { Status("RXFLAG SIGNAL"); }

void TForm1::TmrXTimer() {
  ui->Label6->setVisible(ui->Label6->isHidden());
  Protocol->Tick();
}
