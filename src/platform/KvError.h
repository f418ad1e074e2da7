#pragma once

#include <QString>
#include <exception>
#include <new>

// The one failure type of the program: a number and a description, as the
// handlers report them. Whatever can fail throws this and the event handler
// that started the work catches it and reports it in its own shape.
class KvError : public std::exception
{
public:
    KvError(int number, const QString& description)
        : m_number(number), m_description(description), m_what(description.toLocal8Bit())
    {
    }

    int number() const noexcept { return m_number; }
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};

// Numbers and descriptions shared by more than one layer.
namespace KvErr {
constexpr int NotOneByte = 5;
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int FileNotFound = 53;
constexpr int DeviceIO = 57;
constexpr int PathAccess = 75;
constexpr int InvalidPropertyValue = 380;
constexpr int UnclosedQuote = 512;
constexpr int DatagramTooLarge = 10040;
constexpr int DialogCancel = 32755;
constexpr int DialogBadFileName = 20477;

inline KvError overflow()
{
    return KvError(Overflow, QStringLiteral("Overflow"));
}
inline KvError typeMismatch()
{
    return KvError(TypeMismatch, QStringLiteral("Type mismatch"));
}
inline KvError invalidPropertyValue()
{
    return KvError(InvalidPropertyValue, QStringLiteral("Invalid property value"));
}

// The text a handler reports for any failure it caught: the description of
// ours, plain words for an allocation that failed, the library's for the rest.
inline QString describe(const std::exception& e)
{
    if (const auto* failure = dynamic_cast<const KvError*>(&e))
        return failure->description();
    if (dynamic_cast<const std::bad_alloc*>(&e))
        return QStringLiteral("Out of memory");
    return QString::fromLocal8Bit(e.what());
}
} // namespace KvErr
