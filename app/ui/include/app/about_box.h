#pragma once

#include <QDialog>

namespace qc {

// "About Quillcast".
class TSplashform : public QDialog {
  Q_OBJECT
 public:
  explicit TSplashform(QWidget* parent = nullptr);
};

}  // namespace qc
