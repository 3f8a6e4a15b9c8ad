#include "viewer/shell/ui/dialogs/saved_files_dialog.h"

#include <QHeaderView>

#include <atomic>
#include <mutex>
#include <vector>

#include "viewer/shell/model/background_work.h"
#include "viewer/shell/skin/fonts.h"

namespace ui {
namespace {

constexpr QSize kSize(350, 259);
constexpr QRect kSavedClose(319, 14, 20, 20);
constexpr QRect kFilesClose(300, 15, 20, 20);
constexpr QRect kFilesList(20, 67, 305, 150);

const char* const kModeTitles[] = {"Recorded Videos", "Motion Detection Videos"};

}  // namespace

SavedFilesDialog::SavedFilesDialog(QWidget* parent, SavedFilesContext context)
    : HouseDialog(parent, kSize, QStringLiteral("Saved files"), QStringLiteral("dialog_saved_files")),
      context_(std::move(context)) {
  add_close_button(kSavedClose, QStringLiteral("Close"));
  add_button_labelled(QRect(96, 82, 157, 28), QLatin1String(kModeTitles[0]), [this] { open_files(0); });
  add_button_labelled(QRect(96, 126, 157, 28), QLatin1String(kModeTitles[1]), [this] { open_files(1); });
  add_button_labelled(QRect(96, 170, 157, 28), QStringLiteral("Snapshot Pictures"), [this] {
    if (context_.desktop) (void)model::show_folder_or_tell(*context_.desktop, context_.snapshot_path);
  });
}

void SavedFilesDialog::open_files(int mode) {
  FilesDialog files(this, mode, context_);
  files.exec();
}

// The walk's side of the files dialog: rows found and not yet shown.
struct FilesDialog::Walk {
  model::Handover handover;
  std::mutex mutex;
  std::vector<model::SavedFileRow> pending;
  std::atomic<bool> posted{false};
  std::atomic<bool> done{false};

  // Worker thread: wakes the dialog unless a wake-up is on its way already.
  void wake(const std::shared_ptr<Walk>& self) {
    if (!posted.exchange(true)) post_to_ui_thread([self] { self->handover.deliver(); });
  }
};

FilesDialog::FilesDialog(QWidget* parent, int mode, const SavedFilesContext& context)
    : HouseDialog(parent, kSize, QLatin1String(kModeTitles[mode == 1 ? 1 : 0]), QStringLiteral("dialog_files")),
      model_(mode == 1 ? context.motion_path : context.record_path, *context.desktop, context.being_recorded) {
  add_close_button(kFilesClose, QStringLiteral("Close"));
  const QString folder = QString::fromStdString(model_.folder());
  add_label(QRect(20, 44, 305, 18), QFontMetrics(skin::font(14, 400)).elidedText(folder, Qt::ElideMiddle, 305));

  list_ = new QTreeWidget(this);
  list_->setGeometry(kFilesList);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  QStringList titles;
  for (const char* t : model::kFileColumns) titles << QLatin1String(t);
  list_->setHeaderLabels(titles);
  list_->header()->setStretchLastSection(false);
  for (int c = 0; c < static_cast<int>(model::kFileColumnWidths.size()); ++c) {
    list_->setColumnWidth(c, model::kFileColumnWidths[static_cast<std::size_t>(c)]);
  }

  add_button_labelled(
      QRect(90, 231, 57, 18), QStringLiteral("Play"), [this] { (void)model_.play(selected_row()); }, 13);
  add_button_labelled(
      QRect(165, 231, 57, 18), QStringLiteral("Delete"),
      [this] {
        const int row = selected_row();
        if (model_.remove(row)) delete list_->takeTopLevelItem(row);
      },
      13);
  add_button_labelled(
      QRect(240, 231, 57, 18), QStringLiteral("Explore"), [this] { (void)model_.explore(); }, 13);

  if (context.work)
    start_walk(*context.work);
  else
    walk_done_ = true;
}

FilesDialog::~FilesDialog() {
  if (walk_) {
    walk_->handover.clear_delivery();
    walk_->handover.cancel();
  }
}

void FilesDialog::reject() {
  // The walk stops at its next file; what it still finds is dropped.
  if (walk_) {
    walk_->handover.clear_delivery();
    walk_->handover.cancel();
    walk_.reset();
  }
  HouseDialog::reject();
}

void FilesDialog::start_walk(model::BackgroundWork& work) {
  auto walk = std::make_shared<Walk>();
  walk_ = walk;
  walk->handover.set_delivery([this] { take_rows(); });
  const std::string folder = model_.folder();
  work.start([walk, folder] {
    model::walk_recordings(
        folder,
        [&](model::SavedFileRow&& row) {
          {
            std::lock_guard lock(walk->mutex);
            walk->pending.push_back(std::move(row));
          }
          walk->wake(walk);
          return !walk->handover.cancelled();
        },
        [&] { return walk->handover.cancelled(); });
    walk->done.store(true);
    walk->posted.store(false);
    walk->wake(walk);
  });
}

void FilesDialog::take_rows() {
  if (!walk_) return;
  // Cleared first: a row found from here on wakes the dialog again.
  walk_->posted.store(false);
  const bool done = walk_->done.load();
  std::vector<model::SavedFileRow> rows;
  {
    std::lock_guard lock(walk_->mutex);
    rows.swap(walk_->pending);
  }
  if (!rows.empty()) {
    // Each file found goes on top of the list.
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
      items.push_back(
          new QTreeWidgetItem(QStringList{QString::fromStdString(it->camera), QString::fromStdString(it->file),
                                          QString::fromStdString(it->start), QString::fromStdString(it->end)}));
    }
    list_->insertTopLevelItems(0, items);
    model_.add_found(std::move(rows));
  }
  if (done) {
    walk_done_ = true;
    walk_->handover.clear_delivery();
    walk_.reset();
  }
}

int FilesDialog::selected_row() const {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

}  // namespace ui
