#pragma once

#include <QRect>

// Every control's place and size in one table, in twips (15 to a pixel),
// relative to its container: the client area, or a frame's outer rectangle.
namespace Layout {

struct Twips
{
    int left, top, width, height;
};

constexpr int TwipsPerPixel = 15;

constexpr QRect toPixels(Twips t)
{
    return QRect(t.left / TwipsPerPixel, t.top / TwipsPerPixel, t.width / TwipsPerPixel,
                 t.height / TwipsPerPixel);
}

constexpr Twips ClientArea{0, 0, 9000, 6315};

constexpr Twips fraConnectionSettings{60, 90, 5640, 2355};
constexpr Twips lblIP{120, 510, 1200, 225};
constexpr Twips txtIP{1620, 510, 1995, 225};
constexpr Twips lblRemotePort{120, 960, 1320, 225};
constexpr Twips txtRemotePort{1620, 960, 1995, 225};
constexpr Twips lblLocalPort{120, 1380, 1320, 225};
constexpr Twips txtLocalPort{1620, 1380, 1995, 225};
constexpr Twips optServer0{120, 1710, 1125, 285};
constexpr Twips optServer1{1575, 1695, 1125, 285};
constexpr Twips chkCloseOnDisconnect{120, 1995, 3735, 315};
constexpr Twips cmdConnect{3840, 510, 855, 735};
constexpr Twips lblMode{3840, 1380, 1320, 225};
constexpr Twips cboMode{3840, 1635, 1590, 345};

constexpr Twips fraSendFile{5715, 90, 3105, 2295};
constexpr Twips cmdOpen{330, 510, 855, 735};
constexpr Twips lblInterval{1920, 480, 960, 225};
constexpr Twips txtInterval{1920, 720, 945, 330};
constexpr Twips chkShow{90, 1755, 1785, 285};
constexpr Twips cmdSendFile{1890, 1740, 1035, 315};

constexpr Twips cmdClear{7650, 2430, 1185, 315};
constexpr Twips chkFlat{7650, 2850, 1215, 345};
constexpr Twips txtOutput{60, 2460, 7530, 2835};
constexpr Twips txtLine{60, 5340, 7530, 330};
constexpr Twips cmdSend1{7620, 5340, 465, 285};
constexpr Twips optMode0{60, 5730, 1125, 285};
constexpr Twips optMode1{1275, 5730, 1125, 285};
constexpr Twips chkAppenCrLf{2490, 5760, 1485, 225};
constexpr Twips lblInfo{60, 6045, 3030, 210};
// The information line sizes itself to its text up to the client area's right
// edge less this margin; what does not fit is elided.
constexpr int InfoRightMargin = 60;

// How a control follows the client area when the window is made larger than
// the layout: it moves with the right or the bottom edge, or takes the extra
// width or height. Controls not in GrowingControls keep their place, as do the
// controls inside the frames.
enum Follow : unsigned
{
    MovesRight = 1,
    MovesDown = 2,
    Widens = 4,
    Heightens = 8,
};

struct Growing
{
    const char* name;
    Twips place;
    unsigned follow;
};

constexpr Growing GrowingControls[] = {
    {"txtOutput", txtOutput, Widens | Heightens},
    {"cmdClear", cmdClear, MovesRight},
    {"chkFlat", chkFlat, MovesRight},
    {"txtLine", txtLine, MovesDown | Widens},
    {"cmdSend1", cmdSend1, MovesRight | MovesDown},
    {"optMode0", optMode0, MovesDown},
    {"optMode1", optMode1, MovesDown},
    {"chkAppenCrLf", chkAppenCrLf, MovesDown},
    {"lblInfo", lblInfo, MovesDown | Widens},
};

// A place in pixels moved and stretched by the client area's growth.
constexpr QRect grown(QRect place, unsigned follow, QSize extra)
{
    const int dx = extra.width();
    const int dy = extra.height();
    return QRect(place.x() + (follow & MovesRight ? dx : 0), place.y() + (follow & MovesDown ? dy : 0),
                 place.width() + (follow & Widens ? dx : 0), place.height() + (follow & Heightens ? dy : 0));
}

// The Edit Commands dialog's first size; its table and buttons are laid out inside.
constexpr Twips dlgCommands{0, 0, 9000, 5400};
// The Automatic Replies dialog's: eight columns, the delimiter and the test field.
constexpr Twips dlgReplies{0, 0, 11000, 6000};

// Fonts by pixel size so the layout above holds at any screen resolution.
constexpr int WindowFontPx = 12;    // Fixedsys 9 pt
constexpr int SmallSansFontPx = 11; // Verdana 8.25 pt
constexpr int LogFontPx = 11;       // Courier New 8.25 pt
constexpr int InfoFontPx = 11;      // Times New Roman 8.25 pt
constexpr int SendGlyphFontPx = 12; // the send button's triangle

constexpr int PictureSize = 32;
// How often the information line is brought up to date.
constexpr int StatusLineMs = 250;
constexpr int IconSmallSize = 16;

// Only the address and port boxes have limits; QLineEdit's own default of
// 32767 would cut longer texts without a word.
constexpr int NoMaxLength = 2147483647;
constexpr int TxtIPMaxLength = 4096;
constexpr int PortMaxLength = 15;

} // namespace Layout
