#include "player/ui/player_window.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "player/engine/recording_texts.h"
#include "viewer/record/snapshot.h"

namespace player::ui {

// The picture, fitted into its area on a black ground.
class VideoView final : public QWidget {
 public:
  VideoView(QWidget* parent, const Engine& engine) : QWidget(parent), engine_(engine) {
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const bool have = engine_.with_picture([&](const PresentedPicture& p) {
      // Turned the right way up into the screen's own 32-bit format in one
      // pass: drawing then copies (or only scales) pixels, with no
      // conversion of Qt's in between.
      if (frame_.width() != p.width || frame_.height() != p.height)
        frame_ = QImage(p.width, p.height, QImage::Format_RGB32);
      for (int row = 0; row < p.height; ++row) {
        const std::uint8_t* from = p.rgb + static_cast<std::size_t>(p.height - 1 - row) * p.width * 3;
        auto* to = reinterpret_cast<QRgb*>(frame_.scanLine(row));
        for (int x = 0; x < p.width; ++x, from += 3) to[x] = qRgb(from[2], from[1], from[0]);
      }
    });
    if (!have) return;
    const Box b = picture_box(Box{0, 0, width(), height()}, frame_.width(), frame_.height());
    painter.drawImage(QRect(b.x, b.y, b.w, b.h), frame_);
  }

 private:
  const Engine& engine_;
  QImage frame_;  // the last picture drawn, kept for its buffer
};

// The recording's length as a groove: the part played, a handle at the
// picture shown. A press seeks to the point under it; dragging moves the
// handle and seeks where it is let go.
class PositionBar final : public QWidget {
 public:
  PositionBar(QWidget* parent, std::function<void(int)> seek_at_x) : QWidget(parent), seek_(std::move(seek_at_x)) {
    setCursor(Qt::PointingHandCursor);
  }

  void set_position(std::int64_t position_ms, std::int64_t duration_ms, double indexed) {
    position_ms_ = position_ms;
    duration_ms_ = duration_ms;
    indexed_ = indexed;
    update();
  }
  void set_layout(const WindowLayout& l) { layout_ = l; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int mid = height() / 2;
    const int left = layout_.groove_left();
    const int span = layout_.groove_width();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 70, 70));
    p.drawRoundedRect(QRectF(left, mid - 3, span, 6), 3, 3);
    // How much of the file the index has read, then how much has played.
    p.setBrush(QColor(110, 110, 110));
    p.drawRoundedRect(QRectF(left, mid - 3, span * indexed_, 6), 3, 3);
    const int x = dragging_ ? drag_x_ : bar_x_for(layout_, position_ms_, duration_ms_);
    p.setBrush(QColor(40, 130, 220));
    p.drawRoundedRect(QRectF(left, mid - 3, x - left, 6), 3, 3);
    p.setBrush(Qt::white);
    p.setPen(QColor(40, 130, 220));
    p.drawEllipse(QPointF(x, mid), 7, 7);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    dragging_ = true;
    drag_x_ = clamp_x(static_cast<int>(e->position().x()));
    seek_(drag_x_);
    update();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (!dragging_) return;
    drag_x_ = clamp_x(static_cast<int>(e->position().x()));
    update();
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (!dragging_ || e->button() != Qt::LeftButton) return;
    dragging_ = false;
    const int x = clamp_x(static_cast<int>(e->position().x()));
    if (x != drag_x_) seek_(x);
    update();
  }

 private:
  int clamp_x(int x) const {
    return std::clamp(x, layout_.groove_left(), layout_.groove_left() + layout_.groove_width());
  }

  std::function<void(int)> seek_;
  WindowLayout layout_;
  std::int64_t position_ms_ = 0;
  std::int64_t duration_ms_ = 0;
  double indexed_ = 0;
  bool dragging_ = false;
  int drag_x_ = 0;
};

PlayerWindow::PlayerWindow(std::string program_folder, EngineOptions options)
    : program_folder_(std::move(program_folder)) {
  engine_ = std::make_unique<Engine>(options, static_cast<EngineListener*>(this));
  setWindowTitle(QString::fromLatin1(kProgramName));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(32, 32, 32));
  pal.setColor(QPalette::WindowText, QColor(220, 220, 220));
  setPalette(pal);
  setAutoFillBackground(true);

  video_ = new VideoView(this, *engine_);
  bar_ = new PositionBar(this, [this](int x) { seek_to_bar_x(x); });
  auto button = [this](const char* text, std::function<void()> action) {
    auto* b = new QPushButton(QString::fromLatin1(text), this);
    b->setObjectName(QString::fromLatin1(text).toLower());
    b->setFocusPolicy(Qt::NoFocus);  // keys go to the window
    QObject::connect(b, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    return b;
  };
  play_ = button("Play", [this] { toggle_play(); });
  step_ = button("Step", [this] { step(); });
  speed_ = button("1x", [this] { next_speed(); });
  snapshot_ = button("Snapshot", [this] { take_snapshot(); });
  play_->setToolTip(QStringLiteral("Play or pause (Space)"));
  step_->setToolTip(QStringLiteral("Show the next picture (Right)"));
  speed_->setToolTip(QStringLiteral("Speed: 1x, 2x, 4x, 8x; sound at 1x only"));
  snapshot_->setToolTip(QStringLiteral("Save the picture as JPEG (S)"));
  time_ = new QLabel(this);
  time_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  status_ = new QLabel(this);
  setFocusPolicy(Qt::StrongFocus);

  int w = 0, h = 0;
  initial_client_size(0, 0, &w, &h);
  setMinimumSize(w, h);
}

PlayerWindow::~PlayerWindow() {
  // The engine's threads post to this window: they end before it does.
  engine_.reset();
}

bool PlayerWindow::open(const QString& path) {
  std::string message;
  if (engine_->open(path.toStdString(), &message) != OpenError::None) {
    QMessageBox::warning(nullptr, QString::fromLatin1(kProgramName), QString::fromStdString(message));
    return false;
  }
  const RecordingLayout& l = engine_->layout();
  setWindowTitle(QString::fromStdString(window_title(path.toStdString(), l)));
  int w = 0, h = 0;
  initial_client_size(l.width, l.height, &w, &h);
  resize(w, h);
  refresh();
  return true;
}

void PlayerWindow::place_controls() {
  layout_ = layout_for(width(), height());
  auto put = [](QWidget* widget, const Box& b) { widget->setGeometry(b.x, b.y, b.w, b.h); };
  put(video_, layout_.video);
  put(bar_, layout_.position_bar);
  bar_->set_layout(layout_);
  put(play_, layout_.play);
  put(step_, layout_.step);
  put(speed_, layout_.speed);
  put(snapshot_, layout_.snapshot);
  put(time_, layout_.time);
  put(status_, layout_.status);
}

void PlayerWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  place_controls();
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
      toggle_play();
      return;
    case Qt::Key_Right:
    case Qt::Key_Period:
      step();
      return;
    case Qt::Key_S:
      take_snapshot();
      return;
    case Qt::Key_Escape:
      close();
      return;
    case Qt::Key_Q:
      if (event->modifiers() & Qt::ControlModifier) {
        close();
        return;
      }
      break;
    default:
      break;
  }
  QWidget::keyPressEvent(event);
}

void PlayerWindow::toggle_play() { engine_->toggle_play(); }
void PlayerWindow::step() { engine_->step(); }

void PlayerWindow::next_speed() {
  const int speed = engine_->status().speed;
  engine_->set_speed(speed >= 8 ? 1 : speed * 2);
}

void PlayerWindow::seek_to_bar_x(int x) { engine_->seek(bar_time_at(layout_, x, engine_->status().duration_ms)); }

void PlayerWindow::take_snapshot() {
  const SnapshotPlace place = snapshot_place(engine_->path(), program_folder_);
  record::RecordingSettings settings;
  settings.SnapshotPath = place.root;
  settings.JpegRatio = place.jpeg_quality;
  record::Snapshotter snapshotter(record::RecordingEnv{}, nullptr);
  const int result = snapshotter.take(place.camera, *engine_, settings);
  if (result == record::kSnapshotSaved) {
    status_->setText(QStringLiteral("Snapshot saved: ") + QString::fromStdString(snapshotter.last_path()));
  } else if (result == record::kSnapshotNone) {
    status_->setText(QStringLiteral("There is no picture to save yet."));
  } else {
    status_->setText(QStringLiteral("The snapshot could not be saved in ") + QString::fromStdString(place.root) +
                     QStringLiteral("/") + QString::fromStdString(place.camera) + QStringLiteral("."));
  }
}

QString PlayerWindow::status_text() const { return status_->text(); }

void PlayerWindow::picture_presented(const PresentedPicture&) { post_refresh(); }
void PlayerWindow::status_changed() { post_refresh(); }

namespace {
const QEvent::Type kRefreshEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

void PlayerWindow::post_refresh() {
  // One refresh waiting at a time, however fast pictures come: the window
  // shows the newest. Qt owns a posted event (and drops it should the
  // window go first).
  if (refresh_posted_.exchange(true)) return;
  QCoreApplication::postEvent(this, std::make_unique<QEvent>(kRefreshEvent).release());
}

bool PlayerWindow::event(QEvent* event) {
  if (event->type() != kRefreshEvent) return QWidget::event(event);
  refresh_posted_.store(false);
  refresh();
  return true;
}

void PlayerWindow::refresh() {
  const EngineStatus s = engine_->status();
  video_->update();
  bar_->set_position(s.position_ms, s.duration_ms, s.index_ready ? 1.0 : s.index_progress);
  play_->setText(s.playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
  speed_->setText(QString::number(s.speed) + QStringLiteral("x"));
  time_->setText(QString::fromStdString(format_time(s.position_ms) + " / " + format_time(s.duration_ms)));
  if (s.no_picture && !told_no_picture_) {
    told_no_picture_ = true;
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(kProgramName),
                                QStringLiteral("No picture of \"") + QString::fromStdString(engine_->path()) +
                                    QStringLiteral("\" could be decoded."),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
}

}  // namespace player::ui
