#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace quillora::encoding {

// The seven settings as the window holds them: list texts verbatim, boxes as "ticked".
struct EncodeSettings
{
    QString videoWindow;
    QString videoBitrate;
    QString audioSampling;
    QString audioBitrate;
    QString audioChannels;
    bool deInterlace = false;
    bool disableAudio = false;
};

// One drop-down list of fixed entries and the position of its default.
struct SettingList
{
    const char* control;
    QStringList entries;
    int defaultIndex;

    QString defaultEntry() const { return entries.at(defaultIndex); }
};

// The five lists, each with the name of the control that shows it, in the order they are filled
// at start-up.
const std::array<SettingList, 5>& settingLists();

// The settings as a fresh start shows them.
EncodeSettings defaultSettings();

// The options placed between the quoted source path and the quoted output path. The result
// always begins and ends with one space: those are the only separators around the paths.
QString BuildEncodeOptions(const EncodeSettings& settings);

} // namespace quillora::encoding
