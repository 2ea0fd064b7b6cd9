#include "encoding/EncodeOptions.h"

namespace quillora::encoding {

const std::array<SettingList, 5>& settingLists()
{
    static const std::array<SettingList, 5> lists{{
        {"cmbVideoWindow", {"160x120", "240x180", "320x240", "480x360", "640x480", "800x600"}, 1},
        {"cmbVideoBitrate", {"160", "225", "320", "468", "768", "1600"}, 3},
        {"cmbAudioSampling", {"11025", "22050", "44100"}, 1},
        {"cmbAudioBitrate", {"24", "32", "48", "56", "64", "96", "128"}, 2},
        {"cmbAudioChannels", {"Stereo", "Mono"}, 1},
    }};
    return lists;
}

EncodeSettings defaultSettings()
{
    const auto& lists = settingLists();
    return {lists[0].defaultEntry(), lists[1].defaultEntry(), lists[2].defaultEntry(),
            lists[3].defaultEntry(), lists[4].defaultEntry()};
}

QString BuildEncodeOptions(const EncodeSettings& s)
{
    QString options = " -b " + s.videoBitrate + "kb/s ";
    options += "-r 25 ";
    options += "-s " + s.videoWindow + " ";
    // The frame-size step already ends in a space, so this leaves two before the option:
    // callers compare the string character for character.
    if (s.deInterlace)
        options += " -deinterlace ";
    if (s.disableAudio) {
        options += "-an ";
    } else {
        options += "-ar " + s.audioSampling + "Hz ";
        options += "-ab " + s.audioBitrate + " ";
        options += s.audioChannels == QLatin1String("Stereo") ? "-ac 2 " : "-ac 1 ";
    }
    return options;
}

} // namespace quillora::encoding
