#include "app/about_box.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace qc {

TSplashform::TSplashform(QWidget* parent) : QDialog(parent) {
  setObjectName("TSplashform");
  setWindowTitle("About Quillcast");
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
  auto* name = new QLabel("<b style='font-size:16pt'>Quillcast</b>", this);
  auto* version = new QLabel("Version 2.7m", this);
  version->setObjectName("Version");
  auto* platform = new QLabel("64-bit version for Linux", this);
  platform->setObjectName("Platform");
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OkButton");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(version);
  text->addWidget(platform);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(text);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 14);
  layout->addLayout(top);
  layout->addSpacing(12);
  layout->addLayout(row);
  adjustSize();
}

}  // namespace qc
