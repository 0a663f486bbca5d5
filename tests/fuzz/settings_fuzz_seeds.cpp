// Settings files as the programs and their drivers write them: the keys of both programs,
// Windows line ends, Notepad's byte-order mark, comments, quotes, a section left open.

#include <string>

#include "fuzz/fuzz_input.h"

fuzzing::Seeds settings_fuzzSeeds() {
    const std::string file =
        "[Setup]\r\nPassiveMode=0\r\nUseSerial=1\r\nSetupComplete=1\r\n\r\n"
        "[Controls]\r\nFuel=0:4:1\r\nTire=0:5:1\r\nWeather=0:6:1\r\nStint=0:7:1\r\n"
        "ModeOption=0:8:1\r\nModeConfig=0:9:1\r\n\r\n[Audio]\r\nPreferedDevice=1024\r\n"
        "\r\n[Service]\r\nHost=127.0.0.1\r\nPort=8443\r\nSecure=0\r\n";
    fuzzing::Seeds seeds;
    seeds.emplace_back("both-programs", "Audio\nPreferedDevice\n3\n" + file);
    seeds.emplace_back("new-section", "Extra\nKey\nvalue\n" + file);
    seeds.emplace_back("bom", "Setup\nPassiveMode\n1\n\xEF\xBB\xBF[setup]\npassivemode = 7 ; x\n");
    seeds.emplace_back("quotes", "A\nB\n\"q\"\n[A]\nB='single'\nC=\"double\"\n;comment=1\n");
    seeds.emplace_back("open-section", "A\nB\n-12abc\n[A\nB=1\n[A]\n=nokey\nB\n");
    seeds.emplace_back("empty", "Setup\nUseSerial\n1\n");
    seeds.emplace_back("eof-mark", "S\nK\n+99999999999\n[S]\nK=1\x1a\x1a");
    return seeds;
}
