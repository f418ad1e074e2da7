#pragma once

#include "send/Codec.h"

#include <QString>
#include <QStringList>

// How received data goes into a log box, in the two views. A template, so
// the benchmarks can put the same rules on other boxes.
namespace Arrival {

// The normal view's entry: the count, the sender, the text and its bytes in hex.
inline QStringList entryItems(qint32 count, const QString& sender, const QString& data)
{
    return {QString::number(count) + QStringLiteral(" bytes received from ") + sender,
            QStringLiteral("Data:"), data, SpacedHex(data)};
}

// The flat view: raw, NULs and all, so that arrivals read as one stream; the
// newest line is shown from its start.
template <typename Box> void appendFlat(Box& box, const QString& data)
{
    box.append(data);
    const qsizetype lineBreak = box.lastIndexOf(QStringLiteral("\r\n"));
    box.setCaretPosition(lineBreak < 0 ? box.length() : lineBreak + 2);
}

} // namespace Arrival
