// Header look-ups, encoded words, Base64 and the message tables of the HTTP client.
#include <gtest/gtest.h>

#include "http/HttpErrors.h"
#include "http/ZHttp.h"

namespace vandrel {
namespace {

TEST(HttpHeaders, LookUpJoinsContinuationsAndDecodesWords) {
  TmsHeaders headers;
  headers.Lines = {"HTTP/1.1 200 OK",
                   "X-Long: first",
                   "\tsecond ",
                   "  third",
                   "Subject: =?UTF-8?B?w6TDtg==?= =?ISO-8859-1?Q?a_b=3D?= tail",
                   "Content-Type: text/html; name==?x?B?QQ==?=",
                   "x-long: later"};
  EXPECT_EQ(headers.GetValue("X-LONG"), "first second third");
  EXPECT_EQ(headers.GetValue("x-long:"), "first second third");
  EXPECT_EQ(headers.GetValue("Subject"),
            "\xC3\xA4\xC3\xB6"
            "a b= tail");
  EXPECT_EQ(headers.GetValue("content-type"), "text/html; name==?x?B?QQ==?=");
  EXPECT_EQ(headers.GetValue("Missing"), "");
  EXPECT_EQ(DecodeMimeWords("=?broken"), "=?broken");
  EXPECT_EQ(DecodeMimeWords("a =?x?Z?zz?= b"), "a =?x?Z?zz?= b");
}

TEST(HttpHeaders, Base64EncodesWholeInput) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("a"), "YQ==");
  EXPECT_EQ(EncodeBase64("ab"), "YWI=");
  EXPECT_EQ(EncodeBase64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(EncodeBase64(std::string(300, '\xff')).size(), 400u);
}

TEST(HttpTexts, StatusAndErrorTables) {
  EXPECT_EQ(HttpStatusText(504), "Gateway timeout");
  EXPECT_EQ(HttpStatusText(412), "Unless true");
  EXPECT_EQ(HttpStatusText(418), "");
  EXPECT_EQ(SocketErrorText(10054), "Connection reset by peer");
  EXPECT_EQ(SocketErrorText(11001), "Host not found");
  EXPECT_EQ(SocketErrorText(57024), "SOCKS request failed");
  EXPECT_EQ(SocketErrorText(57026), "Server certificate is not trusted");
  EXPECT_EQ(SocketErrorText(12345), "Error #12345");
  EXPECT_STREQ(EFilesizeExceededError(1).what(), "File exceeded 1 KB, transfer interrupted");
}

}  // namespace
}  // namespace vandrel
