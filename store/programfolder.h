#ifndef PROGRAMFOLDER_H
#define PROGRAMFOLDER_H

#include <QString>

// The folder the running executable really lives in (after links): where
// rfcard keeps its settings, wherever it was started from. One branch for
// Linux, which names it exactly in /proc/self/exe, one for Windows and other
// systems, which ask Qt.
class ProgramFolder {
public:
    // The folder as a path the store can open, or empty with `error` saying
    // why. A name whose bytes do not survive the system's file name encoding
    // (a folder named in another encoding than the locale's) is refused: a
    // path made from it would name another folder, or none.
    static QString path(QString *error);

    // Makes the folder the current one, by its own bytes, so that even a
    // name the encoding cannot hold is entered. False when it cannot be.
    static bool enter();
};

#endif // PROGRAMFOLDER_H
