#include "app/core/Formats.h"

#include "platform/AsciiText.h"

namespace {

// Bit rates are written "64k": today's ffmpeg refuses the old "64kbit/s",
// the 3GP row names an audio codec because Debian's ffmpeg has no AMR
// encoder to fall back on, and the MPEG-1 row sets a frame rate that MPEG-1
// allows, since 12 and 15 fps inputs (common in FLV files) are refused.
const TFormat kFormats[FormatCount] = {
    {"Ipod Video (Apple QuickTime MOV)", ".mov",
     "-s 320x240 -qscale 15 -r 20 -b 500k -ar 22050 -ab 64k -ac 1 "},
    {"Iphone Video (MPEG-4 MP4)", ".mp4",
     "-vcodec mpeg4 -qscale 15 -s 480x320 -r 29 -b 900k -ar 44100 -ab 96k -ac 2 "},
    {"PSP Video (H.264 MP4)", ".mp4",
     "-f psp -s 320x240 -qscale 15 -r 29 -b 768k -ar 24000 -ab 64k -ac 1 "},
    {"Cell Phone (H.263 3GP)", ".3gp",
     "-vcodec h263 -qscale 15 -s 176x144 -r 15 -b 30k -ar 8000 -ab 12.2k -ac 1 -acodec aac "},
    {"Windows Media Video (WMV)", ".wmv",
     "-s 320x240 -qscale 15 -b 50k -ar 22050 -ab 64k -ac 2 -vcodec wmv1 -acodec adpcm_ima_wav "},
    {"XVid MPEG-4 Codec (AVI)", ".avi",
     "-vcodec libxvid -qscale 15 -s 320x240 -b 200k -ar 22050 -ab 64k -ac 2 -aspect 4:3 "},
    {"Microsoft Mpeg4 AVI (AVI)", ".avi", "-vcodec mpeg4 -qscale 15 -s 320x240 -ac 2 "},
    {"MPEG Audio Layer 3 (MP3)", ".mp3", "-ar 44100 -ab 128k -ac 2 "},
    {"Microsoft WAV (WAV)", ".wav", "-ar 44100 -ab 128k -ac 2 "},
    {"MPEG1 Movie (MPG)", ".mpg", "-ab 64k -ar 22050 -b 500k -s 320x240 -r 25 -ac 2 "},
    // Today's players: frame size and rate as the source has them (H.264 in
    // 4:2:0 wants even sides, so an odd side loses one pixel), quality-based
    // rates, the index at the front of an MP4 so that it plays while loading.
    {"H.264 Video at source size (H.264/AAC MP4)", ".mp4",
     "-c:v libx264 -preset medium -crf 23 -pix_fmt yuv420p -vf scale=trunc(iw/2)*2:trunc(ih/2)*2 "
     "-c:a aac -b:a 128k -movflags +faststart "},
    {"WebM Video (VP9/Opus WEBM)", ".webm",
     "-c:v libvpx-vp9 -crf 33 -b:v 0 -deadline good -cpu-used 4 -row-mt 1 -pix_fmt yuv420p "
     "-c:a libopus -b:a 96k "},
    {"AAC Audio (M4A)", ".m4a", "-vn -c:a aac -b:a 160k "},
    {"Opus Audio (OPUS)", ".opus", "-vn -c:a libopus -b:a 128k "},
};

struct ExtRule {
  const char* Marker;
  const char* Extension;
};

// Tested in this order; a later hit overrides an earlier one.
const ExtRule kExtRules[] = {
    {"MOV)", ".mov"}, {"MP4)", ".mp4"}, {"3GP)", ".3gp"}, {"WMV)", ".wmv"},
    {"AVI)", ".avi"}, {"MP3)", ".mp3"}, {"WAV)", ".wav"}, {"MPG)", ".mpg"},
    // The rows added after the first ten; no earlier label holds these.
    {"WEBM)", ".webm"}, {"M4A)", ".m4a"}, {"OPUS)", ".opus"},
};

}  // namespace

const TFormat* FormatAt(int index) {
  if (index < 0 || index >= FormatCount) return nullptr;
  return &kFormats[index];
}

std::string ExtensionForLabel(const std::string& label) {
  const std::string upper = ascii::Upper(label);
  std::string result;
  for (const ExtRule& rule : kExtRules)
    if (upper.find(rule.Marker) != std::string::npos) result = rule.Extension;
  return result;
}

std::string PresetForIndex(int index) {
  const TFormat* f = FormatAt(index);
  return f ? std::string(f->Preset) : std::string();
}
