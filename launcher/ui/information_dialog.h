// The launcher's "Information" dialog: why recorded files play without
// sound in the desktop's player, the hyperlink to our help page, a button
// that makes our player the default for .asf files, and "OK".
//
// Qt widget; user-interface thread only.
#pragma once

#include <QDialog>

#include "launcher/core/launch.h"

class QLabel;
class QPushButton;

namespace launcher::ui {

class HyperlinkLabel;

class InformationDialog : public QDialog {
  Q_OBJECT

 public:
  explicit InformationDialog(const Information& info, QWidget* parent = nullptr);

  // After exec(): true when the dialog was closed with the default button.
  [[nodiscard]] bool make_default_chosen() const { return make_default_; }

  [[nodiscard]] QLabel* text_label() const { return text_; }
  [[nodiscard]] HyperlinkLabel* link() const { return link_; }
  // Null when our player cannot be made the default.
  [[nodiscard]] QPushButton* make_default_button() const { return make_default_button_; }
  [[nodiscard]] QPushButton* ok_button() const { return ok_; }

 private:
  QLabel* text_ = nullptr;
  HyperlinkLabel* link_ = nullptr;
  QPushButton* make_default_button_ = nullptr;
  QPushButton* ok_ = nullptr;
  bool make_default_ = false;
};

}  // namespace launcher::ui
