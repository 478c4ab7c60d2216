#include "ffmpeg/common/output_file.h"

#include "common/boundary.h"

namespace tarsel {

void OpenOutputFile(AVFormatContext* output, const char* path) {
  if (output->oformat->flags & AVFMT_NOFILE) return;
  const int result = avio_open(&output->pb, path, AVIO_FLAG_WRITE);
  if (result < 0) throw Message::FromAv(result);
}

}  // namespace tarsel
