// Helpers of the window tests: a data folder of their own, records put into
// the tables before the window opens, and a driver that answers the modal
// dialogs and message boxes the windows open.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/folders.h"
#include "store/fax_tables.h"
#include "store/table.h"
#include "temp_folder.h"

namespace qc::test {

// A data folder and a configuration folder for one test.
class GuiFolder {
 public:
  GuiFolder()
      : home_("QUILLCAST_HOME", dir_.path().c_str()),
        config_("XDG_CONFIG_HOME", (dir_.path() + "config").c_str()) {}
  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& name) const { return dir_ / name; }

 private:
  TempFolder dir_;
  ScopedEnv home_;
  ScopedEnv config_;
};

using Fields = std::map<std::string, std::string>;

// Appends records to a table of the data folder (created when missing); the
// values are texts, "T"/"F" for logicals and YYYYMMDD for dates.
inline void AddRecords(bool outgoing, const std::vector<Fields>& records) {
  TTable table;
  const bool ok = outgoing ? OpenOutFaxDBF(table, ProgramFolder()) : OpenRecFaxDBF(table, ProgramFolder());
  if (!ok) throw std::runtime_error("cannot open the table: " + table.LastError());
  for (const Fields& f : records) {
    table.Append();
    for (const auto& [name, value] : f) {
      const int index = table.FieldIndex(name);
      const char type = table.Field(index).type;
      int rc = 0;
      if (type == 'L') {
        rc = table.SetLogical(index, value == "T");
      } else if (type == 'D') {
        rc = table.SetDate(index, Date{std::stoi(value.substr(0, 4)), std::stoi(value.substr(4, 2)),
                                       std::stoi(value.substr(6, 2))});
      } else if (type == 'N') {
        rc = table.SetSmallInt(index, std::stoi(value));
      } else {
        rc = table.SetText(index, value);
      }
      if (rc != 0) throw std::runtime_error("cannot set " + name + ": " + table.LastError());
    }
    if (table.Post() != 0) throw std::runtime_error("cannot post: " + table.LastError());
  }
  table.Close();
}

// The records of a table file in physical order, deleted ones included when asked.
inline std::vector<Fields> ReadRecords(const std::string& fileName, bool withDeleted = false) {
  TTable table;
  table.SetFolder(ProgramFolder());
  table.SetTableName(fileName);
  table.SetExclusive(false);
  table.SetShowDeleted(withDeleted);
  std::vector<Fields> out;
  if (table.Open() != 0) return out;
  table.SetOrder(0);
  for (table.First(); table.HasRecord() && !table.Eof(); table.Next()) {
    Fields f;
    for (int i = 0; i < table.FieldCount(); ++i) f[table.Field(i).name] = table.AsText(i);
    out.push_back(f);
  }
  table.Close();
  return out;
}

// Answers modal windows as they open: each one goes to the next queued
// handler; message boxes are recorded, and without a handler answered with
// their Escape button.
class ModalDriver : public QObject {
 public:
  ModalDriver() {
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    timer_.start(5);
  }

  using Handler = std::function<void(QWidget*)>;
  void Then(Handler h) { handlers_.push_back(std::move(h)); }
  // Answers the next message box with `button`.
  void Answer(QMessageBox::StandardButton button) {
    Then([button](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box) return;
      if (QAbstractButton* b = box->button(button)) QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
    });
  }

  struct Box {
    QString caption;
    QString text;
    QMessageBox::StandardButton defaultButton;
  };
  std::vector<Box> boxes;
  QStringList dialogs;  // object names of every modal window seen
  int Pending() const { return static_cast<int>(handlers_.size()); }

 private:
  void tick() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) return;
    // Closed windows drop out, so a new one at the same address counts as new.
    std::erase_if(seen_, [](const QPointer<QWidget>& p) { return p.isNull(); });
    for (const auto& p : seen_)
      if (p == w) return;
    seen_.emplace_back(w);
    dialogs << w->objectName();
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      QMessageBox::StandardButton def = QMessageBox::NoButton;
      if (box->defaultButton()) def = box->standardButton(box->defaultButton());
      boxes.push_back({box->windowTitle(), box->text(), def});
    }
    if (!handlers_.empty()) {
      Handler h = std::move(handlers_.front());
      handlers_.pop_front();
      h(w);
      return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      QAbstractButton* b = box->escapeButton() ? box->escapeButton() : box->buttons().value(0);
      if (b) QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
    } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
      QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    }
  }

  QTimer timer_;
  std::deque<Handler> handlers_;
  std::vector<QPointer<QWidget>> seen_;
};

// Clicks a child button of a dialog by object name, after the current event.
inline void ClickLater(QWidget* dialog, const char* name) {
  if (auto* b = dialog->findChild<QAbstractButton*>(name)) QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
}

inline std::string Repeat(char c, int n) { return std::string(static_cast<size_t>(n), c); }

}  // namespace qc::test

namespace qc::test {
inline std::vector<std::string> SplitLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}
}  // namespace qc::test
