#include "app/dialogs.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <exception>

#include "app/folders.h"
#include "app/placement.h"
#include "app/text_fields.h"

namespace qc {
namespace {

QPointer<QDialog> gHelpWindow;
int gBeeps = 0;
bool gHints = true;

constexpr int kHintDelayMs = 1200;

// Swallows tool tips while hints are switched off.
class HintFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::ToolTip && !gHints) return true;
    return QObject::eventFilter(watched, event);
  }
};

class HintDelayStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == QStyle::SH_ToolTip_WakeUpDelay) return kHintDelayMs;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};

void InstallHintMachinery() {
  static bool installed = false;
  if (installed || !qApp) return;
  installed = true;
  qApp->installEventFilter(new HintFilter(qApp));
  QApplication::setStyle(new HintDelayStyle);
}

QMessageBox::StandardButton Ask(const std::string& text, const std::string& caption,
                                QMessageBox::StandardButton defaultButton) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(caption), Q(text),
                  QMessageBox::Yes | QMessageBox::No, MainWindow());
  box.setDefaultButton(defaultButton);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QString Q(const std::string& text) { return QString::fromStdString(MessageLines(text)); }

void ShowInformation(const std::string& text) {
  QMessageBox box(QMessageBox::Information, "Information", Q(text), QMessageBox::Ok, MainWindow());
  box.exec();
}

bool AskYesNo(const std::string& text, const std::string& caption) {
  return Ask(text, caption, QMessageBox::Yes) == QMessageBox::Yes;
}

bool AskYesNoDefaultNo(const std::string& text, const std::string& caption) {
  return Ask(text, caption, QMessageBox::No) == QMessageBox::Yes;
}

void ShowErrorBox(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, "Quillcast", Q(text), QMessageBox::Ok, MainWindow());
  box.exec();
}

void Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
}

void Beep() {
  ++gBeeps;
  QApplication::beep();
}

int BeepCount() { return gBeeps; }

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

void ProcessMessages() { QCoreApplication::processEvents(); }

QString HelpPage(int topic) {
  const QString page =
      QString::fromStdString(ShareFolder()) + QString("help/%1.html").arg(topic);
  return QFileInfo::exists(page) ? page : QString();
}

namespace {

QDialog* MakeHelpDialog(QWidget* parent) {
  auto* dialog = new QDialog(parent, Qt::Window);
  dialog->setObjectName("HelpWindow");
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle("Quillcast Help");
  auto* layout = new QVBoxLayout(dialog);
  auto* browser = new QTextBrowser(dialog);
  browser->setObjectName("HelpBrowser");
  layout->addWidget(browser);
  auto* buttons = new QHBoxLayout;
  auto* contents = new QPushButton("&Contents", dialog);
  auto* close = new QPushButton("C&lose", dialog);
  buttons->addWidget(contents);
  buttons->addStretch();
  buttons->addWidget(close);
  layout->addLayout(buttons);
  QObject::connect(contents, &QPushButton::clicked, dialog, [dialog] {
    const QString page = HelpPage(1009);
    if (!page.isEmpty()) dialog->findChild<QTextBrowser*>("HelpBrowser")->setSource(QUrl::fromLocalFile(page));
  });
  QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::close);
  dialog->resize(560, 520);
  return dialog;
}

}  // namespace

void ShowHelpTopic(int topic) {
  // A window opened beside a modal dialog would be blocked by it: then the
  // help belongs to that dialog.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal && gHelpWindow && gHelpWindow->parentWidget() != modal) {
    gHelpWindow->close();
    gHelpWindow = nullptr;
  }
  if (!gHelpWindow) gHelpWindow = MakeHelpDialog(modal);
  auto* browser = gHelpWindow->findChild<QTextBrowser*>("HelpBrowser");
  const QString page = HelpPage(topic);
  if (page.isEmpty())
    browser->setHtml(QString("<h1>Help</h1><p>The help page of topic %1 is not installed.</p>").arg(topic));
  else
    browser->setSource(QUrl::fromLocalFile(page));
  gHelpWindow->setProperty("topic", topic);
  gHelpWindow->show();
  gHelpWindow->raise();
  gHelpWindow->activateWindow();
}

QWidget* HelpWindow() { return gHelpWindow.data(); }

void SetHintsEnabled(bool on) {
  InstallHintMachinery();
  gHints = on;
}

bool HintsEnabled() { return gHints; }

}  // namespace qc
