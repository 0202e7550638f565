#ifndef MODULERESULT_H
#define MODULERESULT_H

// What an operation of a protocol module returns: a query its decoded value
// (0 or more), a set command Done, a failure one of the negative codes.
namespace ModuleResult {
enum : int {
    Done = 1,
    ExchangeFailed = -1, // the request could not be written, or no reply came
    OutOfRange = -2, // a reply of the wrong length, or a value the module refuses
    WrongCode = -3, // the reply names another parameter (JQ and VN)
    WriteIncomplete = -4, // from the serial agent, for KLR set commands
};
} // namespace ModuleResult

#endif // MODULERESULT_H
