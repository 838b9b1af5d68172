#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <memory>

#include "common/TestSupport.h"
#include "platform/PropertyList.h"

namespace platform {
namespace {

const char* const kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

TEST(PropertyList, WritesTheFailureResponseExactly) {
  PlistValue response = PlistValue::dictionary();
  response.set("success", PlistValue::boolean(false));
  response.set("error", PlistValue::string("Copy of <a> & \"b\" failed"));
  EXPECT_EQ(xmlPropertyListData(response), std::string(kHeader) +
                                               "<dict>\n"
                                               "\t<key>error</key>\n"
                                               "\t<string>Copy of &lt;a&gt; &amp; \"b\" failed</string>\n"
                                               "\t<key>success</key>\n"
                                               "\t<false/>\n"
                                               "</dict>\n"
                                               "</plist>\n");
}

// What an independent parser makes of the text, as JSON with sorted keys.
std::string readBack(const std::string& xml) {
  testing_support::TemporaryDirectory directory;
  std::string path = directory.path("value.plist");
  testing_support::writeFile(path, xml);
  std::string command = std::string(HELPER_PYTHON3) +
                        " -c 'import json, plistlib, sys; "
                        "print(json.dumps(plistlib.load(open(sys.argv[1], \"rb\")), sort_keys=True))' " +
                        path;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return "popen failed";
  std::string output;
  char buffer[4096];
  while (std::size_t count = fread(buffer, 1, sizeof buffer, pipe.get())) output.append(buffer, count);
  return output;
}

TEST(PropertyList, ReadsBackWithAnIndependentParser) {
  PlistValue job = PlistValue::dictionary();
  job.set("Label", PlistValue::string("com.example.server"));
  job.set("ProgramArguments", PlistValue::array({PlistValue::string("/x/y z"), PlistValue::string("-v")}));
  job.set("RunAtLoad", PlistValue::boolean(true));
  job.set("Umask", PlistValue::integer(std::numeric_limits<std::int64_t>::min()));
  job.set("Markup", PlistValue::string("<key>&amp;</key> caf\xc3\xa9"));
  job.set("Empty", PlistValue::dictionary());
  job.set("<&>", PlistValue::array({PlistValue::array(), PlistValue::boolean(false)}));
  job.set("", PlistValue::string(""));
  job.set("Controls", PlistValue::string("a\x01\x1F\t\r\n\x7F\uFFFE\uFFFF\xFF"));
  EXPECT_EQ(readBack(xmlPropertyListData(job)),
            "{\"\": \"\", \"<&>\": [[], false], "
            "\"Controls\": \"a\\ufffd\\ufffd\\t\\r\\n\\u007f\\ufffd\\ufffd\\ufffd\", "
            "\"Empty\": {}, \"Label\": \"com.example.server\", "
            "\"Markup\": \"<key>&amp;</key> caf\\u00e9\", \"ProgramArguments\": [\"/x/y z\", \"-v\"], "
            "\"RunAtLoad\": true, \"Umask\": -9223372036854775808}\n");
}

}  // namespace
}  // namespace platform
