#include "viewer/shell/ui/dialogs/camera_dialog.h"

#include <QPainter>

#include "viewer/net/discovery.h"
#include "viewer/platform/http_fetch.h"
#include "viewer/shell/model/background_work.h"
#include "viewer/shell/skin/palette.h"

namespace ui {
namespace {

using model::CameraDialogMode;

constexpr QSize kSize(440, 420);
constexpr int kFieldTop = 86;
constexpr int kFieldStep = 30;
constexpr QRect kList(24, 300, 392, 68);
constexpr int kButtonTop = 380;
constexpr QRect kTabFound(24, 50, 124, 24);
constexpr QRect kTabAddress(152, 50, 124, 24);

const char* const kFieldLabels[] = {"Name", "MAC", "Description", "Address", "Port", "User name", "Password"};

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string ss(const QString& s) { return s.toStdString(); }

bool adding(CameraDialogMode mode) {
  return mode == CameraDialogMode::AddFound || mode == CameraDialogMode::AddByAddress;
}

// Buttons of a row, right-aligned above the bottom edge.
QRect bottom_button(int index_from_right, int width) {
  return QRect(kSize.width() - 24 - (index_from_right + 1) * width - index_from_right * 10, kButtonTop, width, 24);
}

}  // namespace

// What one piece of work shares with the dialog; it outlives the dialog
// when the dialog closes first.
struct CameraDialog::Job {
  model::Handover handover;
  platform::HttpFetcher fetcher;
  net::SearchCancel search_cancel;
  model::ConnectionTestResult test;
  model::SearchResult found;

  void cancel() {
    handover.clear_delivery();
    handover.cancel();
    fetcher.cancel();
    search_cancel.cancel();
  }
};

CameraDialog::CameraDialog(QWidget* parent, model::CameraDialogModel& model, model::BackgroundWork& work,
                           CameraDialogMode mode, const model::CameraRecord* editing)
    : HouseDialog(parent, kSize, adding(mode) ? QStringLiteral("Add camera") : QStringLiteral("Change Camera Settings"),
                  QStringLiteral("dialog_camera")),
      model_(model),
      work_(work) {
  model_.open(mode, editing);
  add_close_button(QRect(kSize.width() - 34, 12, 20, 20), QStringLiteral("Close"));

  tab_found_ = &add_button_labelled(kTabFound, QStringLiteral("Local network"),
                                    [this] { switch_tab(CameraDialogMode::AddFound); });
  tab_address_ = &add_button_labelled(kTabAddress, QStringLiteral("By address"),
                                      [this] { switch_tab(CameraDialogMode::AddByAddress); });

  for (int i = 0; i < kFieldCount; ++i) {
    const int y = kFieldTop + i * kFieldStep;
    add_label(QRect(24, y, 106, 24), QLatin1String(kFieldLabels[i]));
    auto* edit = new QLineEdit(this);
    edit->setGeometry(136, y, 280, 24);
    edit->setObjectName(QLatin1String(kFieldLabels[i]));
    edits_[static_cast<std::size_t>(i)] = edit;
  }
  edits_[kPassword]->setEchoMode(QLineEdit::Password);
  list_ = new QListWidget(this);
  list_->setGeometry(kList);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    // Choosing a found camera fills the fields from it.
    if (showing_ || row < 0 || model_.mode() != CameraDialogMode::AddFound) return;
    read_fields();
    model_.select(row);
    show_model();
  });

  add_ = &add_button_labelled(bottom_button(1, 96), QStringLiteral("Add"), [this] { add(); });
  search_ = &add_button_labelled(bottom_button(0, 96), QStringLiteral("Search"), [this] { search(); });
  test_and_add_ = &add_button_labelled(bottom_button(2, 104), QStringLiteral("Test and Add"), [this] { test(true); });
  test_ = &add_button_labelled(bottom_button(1, 104), QStringLiteral("Test"), [this] { test(false); });
  clear_ = &add_button_labelled(bottom_button(0, 104), QStringLiteral("Clear"), [this] { clear(); });
  save_ = &add_button_labelled(bottom_button(0, 96), QStringLiteral("Save"), [this] { save(); });
  show_model();
}

CameraDialog::~CameraDialog() {
  if (job_) job_->cancel();
}

void CameraDialog::reject() {
  // Closing while a search or a test runs: it is cancelled, and whatever it
  // still finds is not delivered.
  if (job_) {
    job_->cancel();
    job_.reset();
  }
  HouseDialog::reject();
}

void CameraDialog::read_fields() {
  model::CameraDialogFields& f = model_.fields();
  f.name = ss(edits_[kName]->text());
  f.mac = ss(edits_[kMac]->text());
  f.description = ss(edits_[kDescription]->text());
  f.address = ss(edits_[kAddress]->text());
  f.port = ss(edits_[kPort]->text());
  f.user = ss(edits_[kUser]->text());
  f.password = ss(edits_[kPassword]->text());
}

void CameraDialog::show_model() {
  showing_ = true;
  const model::CameraDialogFields& f = model_.fields();
  const std::string* texts[] = {&f.name, &f.mac, &f.description, &f.address, &f.port, &f.user, &f.password};
  for (int i = 0; i < kFieldCount; ++i) {
    QLineEdit* e = edits_[static_cast<std::size_t>(i)];
    if (e->text() != qs(*texts[i])) e->setText(qs(*texts[i]));
  }
  const model::CameraDialogControls c = model_.controls();
  edits_[kName]->setReadOnly(true);
  edits_[kName]->setEnabled(c.name_enabled);
  edits_[kMac]->setReadOnly(true);
  edits_[kDescription]->setReadOnly(!c.description_editable);
  edits_[kAddress]->setReadOnly(!c.address_editable);
  edits_[kPort]->setReadOnly(!c.port_editable);

  QStringList lines;
  for (const std::string& line : model_.result_list()) lines << qs(line);
  QStringList shown;
  for (int i = 0; i < list_->count(); ++i) shown << list_->item(i)->text();
  if (shown != lines) {
    list_->clear();
    list_->addItems(lines);
  }
  if (model_.mode() == CameraDialogMode::AddFound && model_.found_count() > 0 && list_->currentRow() < 0) {
    list_->setCurrentRow(0);
  }

  const bool add_mode = adding(model_.mode());
  tab_found_->set_visible(true);
  tab_address_->set_visible(true);
  set_button_enabled(tab_found_, c.tabs_enabled && add_mode);
  set_button_enabled(tab_address_, c.tabs_enabled && add_mode);
  add_->set_visible(c.add);
  search_->set_visible(c.search);
  test_and_add_->set_visible(c.test_and_add);
  // The edit modes show Test beside Save, where the add mode has Clear's
  // neighbour.
  test_->set_visible(c.test);
  test_->set_rect(c.save ? bottom_button(1, 96) : bottom_button(1, 104));
  clear_->set_visible(c.clear);
  save_->set_visible(c.save);
  showing_ = false;
  update();
}

void CameraDialog::switch_tab(CameraDialogMode mode) {
  read_fields();
  model_.switch_mode(mode);
  show_model();
}

std::vector<QWidget*> CameraDialog::inputs() const {
  std::vector<QWidget*> out(edits_.begin(), edits_.end());
  out.push_back(list_);
  return out;
}

void CameraDialog::begin_job(const std::shared_ptr<Job>& job) {
  job_ = job;
  set_busy(true, inputs());
}

void CameraDialog::end_job() {
  job_.reset();
  set_busy(false, inputs());
}

void CameraDialog::search() {
  read_fields();
  auto job = std::make_shared<Job>();
  job->handover.set_delivery([this, job] {
    job->handover.clear_delivery();
    end_job();
    list_->clear();
    model_.finish_search(std::move(job->found));
    show_model();
  });
  begin_job(job);
  work_.start([job] {
    // A discovery of its own: a search left running by a closed dialog never
    // shares its state with the next one.
    net::Discovery discovery;
    net::DiscoveryOptions options;
    options.cancel = &job->search_cancel;
    job->found = model::CameraDialogModel::run_search(
        [&](net::DiscoveredCameraBlock& block, int& count) { return discovery.search(block, count, options); });
    post_to_ui_thread([job] { job->handover.deliver(); });
  });
}

void CameraDialog::test(bool then_add) {
  read_fields();
  model::ConnectionTestInput input;
  if (!model_.begin_test(&input)) {
    // Nothing to test (it warned); Test and Add then finds no camera either.
    if (then_add && model_.finish_test_and_add() == 1) changed_ = true;
    show_model();
    return;
  }
  auto job = std::make_shared<Job>();
  job->handover.set_delivery([this, job, then_add] {
    job->handover.clear_delivery();
    end_job();
    read_fields();
    model_.finish_test(job->test);
    if (then_add && model_.finish_test_and_add() == 1) changed_ = true;
    show_model();
  });
  begin_job(job);
  work_.start([job, input] {
    job->test =
        model::CameraDialogModel::run_test(input, [&job](const std::string& url) { return job->fetcher.fetch(url); });
    post_to_ui_thread([job] { job->handover.deliver(); });
  });
}

void CameraDialog::add() {
  read_fields();
  if (model_.add() == 1) changed_ = true;
  show_model();
}

void CameraDialog::save() {
  read_fields();
  if (model_.save() == 1) changed_ = true;
  show_model();
}

void CameraDialog::clear() {
  read_fields();
  model_.clear();
  show_model();
}

void CameraDialog::paint_content(QPainter& painter, const QRect&) {
  // The tab of the current add mode is underlined.
  if (!adding(model_.mode())) return;
  const QRect tab = model_.mode() == CameraDialogMode::AddFound ? kTabFound : kTabAddress;
  painter.fillRect(QRect(tab.left() + 8, tab.bottom() + 3, tab.width() - 16, 2), skin::kAccent);
}

}  // namespace ui
