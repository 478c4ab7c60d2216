#include "codec_names.h"

namespace tool {
namespace {

// FFmpeg's AVCodecID numbers, which FFmpeg keeps from version to version (new
// codecs are added after the existing ones).
constexpr struct {
  int id;
  const char* name;
} kVideoCodecs[] = {
    {1, "mpeg1video"}, {2, "mpeg2video"}, {3, "h261"},       {4, "h263"},       {7, "mjpeg"},
    {12, "mpeg4"},     {13, "rawvideo"},  {15, "msmpeg4v2"}, {16, "msmpeg4v3"}, {17, "wmv1"},
    {18, "wmv2"},      {19, "h263p"},     {21, "flv1"},      {23, "svq3"},      {24, "dvvideo"},
    {25, "huffyuv"},   {27, "h264"},      {29, "vp3"},       {30, "theora"},    {33, "ffv1"},
    {43, "cinepak"},   {55, "qtrle"},     {61, "png"},       {67, "ffvhuff"},   {69, "rv40"},
    {70, "vc1"},       {71, "wmv3"},      {78, "bmp"},       {88, "jpeg2000"},  {92, "vp6f"},
    {96, "tiff"},      {97, "gif"},       {99, "dnxhd"},     {139, "vp8"},      {147, "prores"},
    {152, "utvideo"},  {167, "vp9"},      {171, "webp"},     {173, "hevc"},     {187, "hap"},
    {196, "vvc"},      {213, "cfhd"},     {216, "magicyuv"}, {226, "av1"},
};

}  // namespace

std::string VideoCodecName(int codecId) {
  for (const auto& codec : kVideoCodecs) {
    if (codec.id == codecId) return codec.name;
  }
  return "codec " + std::to_string(codecId);
}

}  // namespace tool
