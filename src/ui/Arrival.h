#pragma once

#include "send/Codec.h"

#include <QByteArrayList>
#include <QString>

// How received data goes into a log box, in the two views. A template, so
// the benchmarks can put the same rules on other boxes. The data stays bytes
// all the way into the box.
namespace Arrival {

// The normal view's entry: the count, the sender, the bytes and their hex form.
inline QByteArrayList entryItems(qint32 count, const QString& sender, const QByteArray& data)
{
    return {QByteArray::number(count) + " bytes received from " + sender.toLatin1(), "Data:", data,
            SpacedHex(data)};
}

// The flat view: raw, NULs and all, so that arrivals read as one stream; the
// newest line is shown from its start.
template <typename Box> void appendFlat(Box& box, const QByteArray& data)
{
    box.append(data);
    const qsizetype lineBreak = box.lastIndexOf(QStringLiteral("\r\n"));
    box.setCaretPosition(lineBreak < 0 ? box.length() : lineBreak + 2);
}

} // namespace Arrival
