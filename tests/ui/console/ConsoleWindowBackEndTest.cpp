#include "ui/console/ConsoleWindowBackEnd.h"

#include "ui/ProgressWindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

TEST(ConsoleWindowBackEnd, PrintsOneLabelledLinePerChange) {
    std::vector<std::string> lines;
    auto backEnd = std::make_shared<ConsoleWindowBackEnd>(
        "SMTP", [&](const std::string& line) { lines.push_back(line); });
    ProgressWindow window("SMTP");
    window.attach(backEnd);
    EXPECT_TRUE(lines.empty()); // nothing reported yet: no empty status lines
    window.setPopup(true);
    window.setStatus("Sending mail ...");
    window.setDetail("http://mail.vurel.example/vm/Compose?YY=1");
    window.hide();
    EXPECT_EQ(lines,
              (std::vector<std::string>{"SMTP shown\n", "SMTP status: Sending mail ...\n",
                                        "SMTP detail: http://mail.vurel.example/vm/Compose?YY=1\n",
                                        "SMTP hidden\n"}));
}

TEST(ConsoleWindowBackEnd, LineBreaksInATextNeverStartALineOfTheirOwn) {
    std::vector<std::string> lines;
    ConsoleWindowBackEnd backEnd("POP3", [&](const std::string& line) { lines.push_back(line); });
    backEnd.setDetail("http://h/a\r\nPOP3 status: forged\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "POP3 detail: http://h/a  POP3 status: forged \n");
}

TEST(ConsoleWindowBackEnd, DefaultSinkWritesToStandardError) {
    ::testing::internal::CaptureStderr();
    ConsoleWindowBackEnd("POP3").setCaption("Deleting mail ...");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "POP3 status: Deleting mail ...\n");
}

} // namespace
} // namespace quill
