#include "ui/Fonts.h"

#include "ui/Layout.h"

#include <QStringList>

namespace {

QFont fontOf(const QStringList& families, QFont::StyleHint hint, int pixelSize)
{
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    f.setPixelSize(pixelSize);
    f.setWeight(QFont::Normal);
    return f;
}

QFont mono(int pixelSize)
{
    QFont f = fontOf({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")}, QFont::TypeWriter,
                     pixelSize);
    f.setFixedPitch(true);
    return f;
}

QFont sans(int pixelSize)
{
    return fontOf({QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")}, QFont::SansSerif, pixelSize);
}

} // namespace

QFont Fonts::window()
{
    return mono(Layout::WindowFontPx);
}

QFont Fonts::smallSans()
{
    return sans(Layout::SmallSansFontPx);
}

QFont Fonts::log()
{
    return mono(Layout::LogFontPx);
}

QFont Fonts::info()
{
    return fontOf({QStringLiteral("DejaVu Serif"), QStringLiteral("Serif")}, QFont::Serif,
                  Layout::InfoFontPx);
}

QFont Fonts::sendGlyph()
{
    return sans(Layout::SendGlyphFontPx);
}
