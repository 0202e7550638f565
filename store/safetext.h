#ifndef SAFETEXT_H
#define SAFETEXT_H

#include <QString>

// Names and values that come from a file others may write (the shared
// settings, a folder's name) reach a terminal or a script only as printable
// text: a line break or an escape sequence in a module name could otherwise
// start a line of its own, or retitle and recolour the reader's terminal.
// Control, format and other unprintable characters are written as escapes,
// the way Qt's debug stream quotes a string ("\n", "\u001b", "\u202e");
// printable characters of any plane are kept as they are.
class SafeText {
public:
    static QString printable(const QString &text);
};

#endif // SAFETEXT_H
