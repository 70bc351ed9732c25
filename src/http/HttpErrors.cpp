#include "http/HttpErrors.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/Format.h"

namespace vandrel {

namespace {

struct TCodeText {
  int Code;
  const char* Text;
};

// Sorted by code for the binary search below.
constexpr TCodeText kSocketTexts[] = {
    {10000, "No error"},
    {10004, "Interrupted function call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Resource temporarily not available"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Cannot assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No network connection"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Winsock DLL version out of range"},
    {10093, "Successful WSAStartup() not yet performed"},
    {10094, "Graceful shutdown in progress"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {11004, "No network connection"},
    {57000, "Operation timed out"},
    {57001, "Operation has been canceled"},
    {57002, "Server name is required"},
    {57003, "Invalid Winsock version"},
    {57004, "Error resolving remote host"},
    {57005, "Service name is required"},
    {57006, "Proxy port is required"},
    {57007, "Invalid URL"},
    {57008, "You have to connect to the server first"},
    {57009, "Server is busy"},
    {57010, "Function %s not found"},
    {57011, "Winsock is not loaded"},
    {57012, "Winsock not found"},
    {57013, "Invalid query format"},
    {57014, "Server returned invalid reply"},
    {57015, "IDs in the query and response are different"},
    {57016, "This is not a response"},
    {57017, "Domain server was unable to interpret a query"},
    {57018, "Domain server failure"},
    {57019, "Domain name does not exist"},
    {57020, "Not implemented"},
    {57021, "Domain server refused to return the information"},
    {57022, "File skipped"},
    {57023, "File exceeded %d KB, transfer interrupted"},
    {57024, "SOCKS request failed"},
    {57025, "TLS handshake failed"},
    {57026, "Server certificate is not trusted"},
};

constexpr TCodeText kStatusTexts[] = {
    {100, "Continue"},
    {101, "Switching protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-authoritative information"},
    {204, "No content"},
    {205, "Reset content"},
    {206, "Partial content"},
    {300, "Multiple choices"},
    {301, "Moved permanently"},
    {302, "Moved temporarily"},
    {303, "See other"},
    {304, "Not modified"},
    {305, "Use proxy"},
    {400, "Bad request"},
    {401, "Unauthorized"},
    {402, "Payment required"},
    {403, "Forbidden"},
    {404, "Not found"},
    {405, "Method not allowed"},
    {406, "None acceptable"},
    {407, "Proxy authentication required"},
    {408, "Request timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length required"},
    {412, "Unless true"},
    {500, "Internal server error"},
    {501, "Not implemented"},
    {502, "Bad gateway"},
    {503, "Service unavailable"},
    {504, "Gateway timeout"},
};

template <size_t N>
const char* Lookup(const TCodeText (&table)[N], int code) {
  auto it = std::lower_bound(std::begin(table), std::end(table), code,
                             [](const TCodeText& entry, int c) { return entry.Code < c; });
  return it != std::end(table) && it->Code == code ? it->Text : nullptr;
}

}  // namespace

std::string SocketErrorText(int code) {
  if (const char* text = Lookup(kSocketTexts, code)) return text;
  return "Error #" + std::to_string(code);
}

std::string HttpStatusText(int code) {
  const char* text = Lookup(kStatusTexts, code);
  return text ? text : "";
}

EFilesizeExceededError::EFilesizeExceededError(long long limitKb)
    : std::runtime_error(Format(SocketErrorText(kErrFileExceeded), {limitKb})) {}

}  // namespace vandrel
