// Packets are never lost: the link folder disappears while a terminal keeps punching, and
// comes back. Every packet reaches the customer's software once, in the order punched.
//
// Loopback addresses of this file: 127.70.x.x.

#include "system/program_harness.h"
#include "terminal_sim/frames.h"

#include <gtest/gtest.h>

#include <thread>

using namespace iplib::test;
using namespace terminal_sim;

namespace {

const TerminalClockReading kRecordTime{"091226", "101500"};

std::string punch(const std::string& card) { return recordBody('1', 'M', kRecordTime, "01", "01," + card + ",000001"); }

TEST(ProgramSpool, PacketsPunchedWhileTheLinkFolderIsGoneArriveOnceAndInOrderWhenItIsBack) {
    TerminalThread simulators;
    auto terminal = simulators.startTerminal("127.70.0.2");
    ProgramRoot root;
    const std::string linkFolder = root.root() + "LINK/";
    std::filesystem::create_directories(linkFolder);
    root.writeConfigFile("LINK.CFG", "False\r\nTrue\r\n 1 \r\n" + linkFolder + "\r\n");
    root.writeTerminalList({terminalLine("0001", "127.70.0.2", terminal->port())});
    ProgramProcess program(root.root());
    CustomerSide customer(linkFolder);
    ASSERT_TRUE(customer.waitForMessage("0001,01-CONNECT\x03")) << program.output();
    waitForClockSettings(*terminal);

    std::vector<std::string> expected;
    auto send = [&](int from, int to) {
        for (int card = from; card < to; ++card) {
            const std::string body = punch(std::to_string(card));
            terminal->sendDataFrame(body);
            expected.push_back(deliveredPacket("0001", dataFrame(body)));
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    send(1000, 1020);
    ASSERT_TRUE(eventually([&] { return customer.packets().size() == 20; }));

    std::filesystem::remove_all(linkFolder);
    send(1020, 1060);  // acknowledged by the library, kept in its spool
    ASSERT_TRUE(eventually([&] { return terminal->counters().acks >= 60; }));
    EXPECT_TRUE(exists(root.file("PAQ_SPOOL.TXT")));

    std::filesystem::create_directories(linkFolder);
    send(1060, 1070);
    EXPECT_TRUE(eventually([&] { return customer.packets().size() >= expected.size(); })) << program.tail();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // nothing more may come
    EXPECT_EQ(customer.packets(), expected);
    EXPECT_TRUE(eventually([&] { return !exists(root.file("PAQ_SPOOL.TXT")); }));
    EXPECT_EQ(program.terminate(), 0) << program.tail();
}

}  // namespace
