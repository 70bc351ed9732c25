// The numbers of script errors and warnings, as hosts show them and engine authors look them up.
#pragma once

namespace vandrel {

// Error numbers are shown to users and compared by hosts: never renumber. 1xx come from expressions,
// functions and wrappers, 2xx from statements and files, 4xx are warnings.
inline constexpr int kErrInvalidValue = 101;            // a field text that is no number
inline constexpr int kErrUnknown = 102;                 // "Unknown error\n\r%s"
inline constexpr int kErrSyntax = 103;                  // "Syntax error"
inline constexpr int kErrDivisionByZero = 104;          // "Division by zero"
inline constexpr int kErrIncompatibleTypes = 106;       // "Incompatible data types: '%s' and '%s'"
inline constexpr int kErrInvalidParameter = 108;        // "Invalid parameter: '%s'"
inline constexpr int kErrParenthesisNotClosed = 109;    // "Parenthesis not closed"
inline constexpr int kErrUnterminatedString = 110;      // "Unterminated string"
inline constexpr int kErrPropertyNotFound = 111;        // "Property not found: '%s'"
inline constexpr int kErrMissingParameter = 113;        // "Missing parameter"
inline constexpr int kErrReadOnly = 114;                // "Variable '%s' is read-only"
inline constexpr int kErrUnknownIdentifier = 117;       // "Unknown identifier: %s"
inline constexpr int kErrMissingOperator = 118;         // "Missing operator"
inline constexpr int kErrMissingIdentifier = 119;       // "Missing identifier"
inline constexpr int kErrInvalidDataType = 120;         // "Invalid data type: '%s'"
inline constexpr int kErrInvalidFloatOperation = 121;   // "Invalid floating point operation"
inline constexpr int kErrOverflow = 122;                // "Overflow"
inline constexpr int kErrAccessViolation = 123;         // "Access violation"
inline constexpr int kErrIndexOutOfRange = 124;         // "Index out of range: " + message
inline constexpr int kErrInvalidObjectOperation = 125;  // "Invalid object operation"
inline constexpr int kErrConvert = 126;                 // "Convert error: " + message
inline constexpr int kErrStream = 127;                  // "Stream error: " + message
inline constexpr int kErrList = 128;                    // "List error: " + message
inline constexpr int kErrUnknownObject = 129;           // "Unknown object: %s"
inline constexpr int kErrFieldNotFound = 130;           // "Field '%s' not found in result record"
inline constexpr int kErrInvalidAlignment = 131;        // "Invalid alignment: '%d'"

inline constexpr int kErrCorruptedSource = 201;       // "Corrupted source file"
inline constexpr int kErrKeywordNotFound = 202;       // "Keyword not found: $%.4x" / "...: '%s'"
inline constexpr int kErrInvalidProcedureName = 203;  // "Invalid procedure name: '%s'"
inline constexpr int kErrMissingEndFor = 204;         // "Missing EndFor"
inline constexpr int kErrMissingEndIf = 205;          // "Missing EndIf"
inline constexpr int kErrMissingEndProcedure = 206;   // "Missing EndProcedure"
inline constexpr int kErrMissingEndWhile = 207;       // "Missing EndWhile"
inline constexpr int kErrReservedKeyword = 208;       // "Reserved keyword: '%s'"
inline constexpr int kErrAlreadyDeclared = 209;       // "'%s' is already declared'"
inline constexpr int kErrStatementExpected = 210;     // "Statement expected but '%s' found"
inline constexpr int kErrForEachModify = 211;         // "Cannot modify '%s' collection while in For Each..."
inline constexpr int kErrNestedForEach = 212;         // "Cannot use '%s' collection in nested for each..."
// A run that outlived its time budget: a looping script must not hold up its host.
inline constexpr int kErrTimeLimit = 213;  // "Script stopped after running %d ms"

inline constexpr int kWarnBackwardCompatibility = 401;  // "Backward compatibility only"
inline constexpr int kWarnDeprecated = 410;             // the keyword's note

}  // namespace vandrel
