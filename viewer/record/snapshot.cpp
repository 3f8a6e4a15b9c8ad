#include "viewer/record/snapshot.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "viewer/record/recording_names.h"

namespace record {

namespace {

// libjpeg reports fatal errors through error_exit, which by default ends the
// process; ours jumps back to encode_jpeg instead.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void on_error_exit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void on_output_message(j_common_ptr) {}  // warnings are not shown anywhere

// A destination that grows a std::vector, so the buffer is reused from one
// snapshot to the next.
struct VectorDestination {
  jpeg_destination_mgr pub;
  std::vector<std::uint8_t>* out;
};

constexpr std::size_t kGrowBytes = 64 * 1024;

void dest_init(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  if (d->out->size() < kGrowBytes) d->out->resize(kGrowBytes);
  d->pub.next_output_byte = d->out->data();
  d->pub.free_in_buffer = d->out->size();
}

boolean dest_empty(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  // libjpeg asks for more room only when the whole buffer is used.
  const std::size_t used = d->out->size();
  d->out->resize(used + (used > kGrowBytes ? used : kGrowBytes));
  d->pub.next_output_byte = d->out->data() + used;
  d->pub.free_in_buffer = d->out->size() - used;
  return TRUE;
}

void dest_term(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
  d->out->resize(d->out->size() - d->pub.free_in_buffer);
}

// The libjpeg part, kept free of C++ objects with destructors so that the
// error jump leaves nothing behind.
int compress(const std::uint8_t* bgr, int width, int height, int quality, VectorDestination* dest) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = on_error_exit;
  err.pub.output_message = on_output_message;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return 0;
  }
  jpeg_create_compress(&cinfo);
  dest->pub.init_destination = dest_init;
  dest->pub.empty_output_buffer = dest_empty;
  dest->pub.term_destination = dest_term;
  cinfo.dest = &dest->pub;
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;  // the pipeline's byte order, no conversion pass
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    // The picture is stored bottom row first; JPEG wants the top row first.
    const std::size_t row = static_cast<std::size_t>(height) - 1 - cinfo.next_scanline;
    JSAMPROW rows[1] = {const_cast<JSAMPLE*>(bgr + row * stride)};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 1;
}

}  // namespace

int encode_jpeg(const std::uint8_t* bgr_bottom_up, int width, int height, int quality, std::vector<std::uint8_t>& out) {
  if (bgr_bottom_up == nullptr || width <= 0 || height <= 0 || width > 65500 || height > 65500) return 0;
  VectorDestination dest{};
  dest.out = &out;
  if (compress(bgr_bottom_up, width, height, quality, &dest) != 1) {
    out.clear();
    return 0;
  }
  return 1;
}

int Snapshotter::take(const std::string& mac, SnapshotSource& source, const RecordingSettings& settings) {
  int width = 0, height = 0;
  if (!source.copy_snapshot(picture_, &width, &height)) return kSnapshotNone;
  int result = kSnapshotFailed;
  if (width > 0 && height > 0 &&
      picture_.size() >= static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 &&
      encode_jpeg(picture_.data(), width, height, settings.JpegRatio & 255, jpeg_) == 1) {
    const std::string directory = camera_directory(settings.SnapshotPath, mac);
    (void)env_.fs->make_directory(directory);
    const std::string path = join_path(directory, snapshot_file_name(env_.clock->local_now()));
    // Written aside and renamed, so that a failed write never leaves half a
    // picture under the real name (nor destroys an earlier one of that name).
    const std::string part = path + ".part";
    if (env_.fs->write_file(part, jpeg_.data(), jpeg_.size()) && env_.fs->rename(part, path)) {
      last_path_ = path;
      result = kSnapshotSaved;
    } else {
      (void)env_.fs->remove(part);
    }
  }
  if (sound_ != nullptr) {
    const std::vector<std::uint8_t>& wav = snapshot_sound_wav();
    sound_->play_async(wav.data(), wav.size());
  }
  return result;
}

}  // namespace record
