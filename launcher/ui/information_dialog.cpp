#include "launcher/ui/information_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "launcher/ui/hyperlink_label.h"

namespace launcher::ui {

InformationDialog::InformationDialog(const Information& info, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Information"));
  auto* layout = new QVBoxLayout(this);

  text_ = new QLabel(QString::fromStdString(info.text), this);
  text_->setWordWrap(true);
  text_->setTextFormat(Qt::PlainText);
  layout->addWidget(text_);

  const QString address = QString::fromStdString(info.link);
  link_ = new HyperlinkLabel(address, address, this);
  layout->addWidget(link_, 0, Qt::AlignLeft);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  if (info.can_make_default) {
    make_default_button_ = new QPushButton(QString::fromStdString(info.button), this);
    connect(make_default_button_, &QPushButton::clicked, this, [this] {
      make_default_ = true;
      accept();
    });
    buttons->addWidget(make_default_button_);
  }
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(ok_);
  layout->addLayout(buttons);

  // Wide enough for the address on one line, and the text in a few.
  setMinimumWidth(std::max(420, link_->sizeHint().width() + 40));
}

}  // namespace launcher::ui
