// The hyperlink control of the launcher's Information dialog: a text that
// opens an address with the desktop's handler when clicked.
//
// Blue (0,0,238) until visited, purple (85,26,139) after a successful open,
// red (255,0,0) while the mouse is over it; underlined while the mouse is over
// it (the initial underline mode); a hand cursor; a tool-tip with the address;
// sized to its text. A failed open tries the default web browser's command
// once more, beeps and tells "Unable to open hyperlink:" with the reason.
//
// Qt widget; user-interface thread only.
#pragma once

#include <QLabel>
#include <QString>

#include <functional>

namespace launcher::ui {

class HyperlinkLabel : public QLabel {
  Q_OBJECT

 public:
  static constexpr QRgb kLinkColour = 0xff0000ee;     // RGB(0, 0, 238)
  static constexpr QRgb kVisitedColour = 0xff551a8b;  // RGB(85, 26, 139)
  static constexpr QRgb kHoverColour = 0xffff0000;    // RGB(255, 0, 0)

  enum class Underline { never, while_hovering, always };

  // Opens an address; returns a result above 32 on success, else the reason
  // (see launcher/core/hyperlink.h).
  using Opener = std::function<int(const QString& address)>;

  // An empty text shows the address; an empty address opens the text.
  explicit HyperlinkLabel(const QString& text, const QString& address = {}, QWidget* parent = nullptr);

  [[nodiscard]] QString address() const { return address_; }
  void set_address(const QString& address);

  [[nodiscard]] bool visited() const { return visited_; }
  void set_visited(bool visited);
  [[nodiscard]] bool hovering() const { return hovering_; }
  void set_underline(Underline mode);
  // On (the default): the control takes the size of its text.
  void set_fit_to_text(bool on);

  // The colour the text is drawn in now.
  [[nodiscard]] QColor text_colour() const;

  // Replace the desktop (tests): the first try, the second try after a
  // failure, and the report of a failure (default: beep and a message box).
  void set_opener(Opener opener) { opener_ = std::move(opener); }
  void set_fallback(std::function<void(const QString& address)> fallback) { fallback_ = std::move(fallback); }
  void set_failure_report(std::function<void(const QString& message)> report) { report_ = std::move(report); }

  // Opens the address as a click does; returns the first try's result.
  int open_address();

  // The first try of the real control: a missing local file is told as such
  // before the desktop is asked; then the desktop's handler.
  static int open_with_desktop(const QString& address);

 signals:
  void opened();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void set_hovering(bool on);
  void refresh();
  void report_failure(const QString& message);

  QString address_;
  bool visited_ = false;
  bool hovering_ = false;
  bool pressed_ = false;
  Underline underline_ = Underline::while_hovering;
  bool fit_to_text_ = true;
  Opener opener_;
  std::function<void(const QString&)> fallback_;
  std::function<void(const QString&)> report_;
};

}  // namespace launcher::ui
