#pragma once

#include <QFont>

// The window's fonts, by pixel size so that the layout holds at any screen
// resolution; free substitutes for the ones the window was drawn with.
namespace Fonts {

QFont window();    // Fixedsys 9 pt: every control without a font of its own
QFont smallSans(); // Verdana 8.25 pt: the check boxes
QFont log();       // Courier New 8.25 pt: the output log
QFont info();      // Times New Roman 8.25 pt: the information line
QFont sendGlyph(); // the send button's right-pointing triangle

} // namespace Fonts
