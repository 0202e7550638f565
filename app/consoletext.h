#ifndef CONSOLETEXT_H
#define CONSOLETEXT_H

// The text rfcard writes to the console (its Chinese help, its messages, the
// report) is UTF-8 on every system. Linux consoles are UTF-8 already; a
// Windows console shows the system's ANSI code page by default, in which the
// help's Chinese is "?????" unless Windows runs in Chinese, so there rfcard
// writes UTF-8 and switches the console it writes to to UTF-8 (Windows 10
// consoles show it, with a font that has the characters). Output redirected
// to a file or pipe is UTF-8 too, which is what scripts read. The console
// gets its own code page back when rfcard ends.
class ConsoleText {
public:
    static void useUtf8();
};

#endif // CONSOLETEXT_H
