// A program message from the network, as rfcardd reads it: split into units,
// headers and parameters, each header looked up in the command table and
// each parameter read as a number with its unit. Any bytes: no crash, no
// unit without either a header or an error.

#include "daemon/scpicommands.h"
#include "daemon/scpiparser.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char *>(data), int(size));
    for (const ScpiParser::Unit &unit : ScpiParser::parse(message)) {
        if (unit.error == 0 && unit.nodes.isEmpty())
            __builtin_trap();
        int channel = 0;
        if (!unit.common && ScpiCommands::find(unit.nodes, &channel)) {
            for (const QByteArray &param : unit.params) {
                const ScpiParser::Number n = ScpiParser::number(param);
                double scale = 0;
                (void)ScpiCommands::scaleOf(QStringLiteral("freq"), n.suffix, &scale);
            }
        }
    }
    return 0;
}
