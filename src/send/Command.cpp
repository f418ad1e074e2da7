#include "send/Command.h"

#include "platform/KvError.h"

bool Command::operator==(const Command& other) const
{
    return name == other.name && text == other.text && hex == other.hex && crLf == other.crLf;
}

QString commandProblem(const Command& command)
{
    if (command.name.trimmed().isEmpty())
        return QStringLiteral("no name");
    try {
        prepareCommand(command);
    } catch (const std::exception& e) {
        return KvErr::describe(e);
    }
    return QString();
}

LineToSend prepareCommand(const Command& command)
{
    return prepareLine(command.text, command.hex, command.crLf);
}
