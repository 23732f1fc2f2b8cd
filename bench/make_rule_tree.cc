// Writes a tmp/ of realistic rule files for the rule-merge benchmark: licence-style
// comment headers, section titles, commented-out rules, blank lines between rules,
// quoted and backslash-escaped contents, hex bytes and the odd very long line.
//
// usage: make_rule_tree <directory> <megabytes> [files]
// Without a number of files, each file holds about 4 MB.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

constexpr const char* kActions[] = {"alert", "alert", "alert", "drop", "pass"};
constexpr const char* kProtocols[] = {"tcp", "udp", "http", "tls", "dns", "icmp", "ip"};
constexpr const char* kContents[] = {
    R"x(content:"<div id=\"obj\">"; nocase;)x",
    R"x(pcre:"/\/[a-z]+\.php\?id=[0-9]+/Ui";)x",
    R"x(content:"|3C|script|3E|"; fast_pattern;)x",
    R"x(content:"GET"; http_method; content:"/admin\\login"; http_uri;)x",
    R"x(content:"User-Agent|3a 20|Mozilla/4.0 (compatible\; MSIE 6.0)"; http_header;)x",
    R"x(byte_test:4,>,1000,0,relative; content:"|00 01 86 a5|";)x",
};

std::string rule(std::mt19937& random, unsigned sid) {
  std::string text = kActions[random() % 5];
  text += ' ';
  text += kProtocols[random() % 7];
  text += " $EXTERNAL_NET any -> $HOME_NET ";
  text += std::to_string(random() % 65536);
  text += " (msg:\"ET TROJAN Example \\\"family\\\" checkin ";
  text += std::to_string(sid);
  text += "\"; flow:established,to_server; ";
  int parts = 1 + static_cast<int>(random() % 4);
  for (int i = 0; i < parts; ++i) {
    text += kContents[random() % 6];
    text += ' ';
  }
  if (random() % 200 == 0) {
    // A long source list, as in the drop lists.
    text += "reference:url,";
    for (int i = 0; i < 400; ++i) text += "10." + std::to_string(random() % 256) + ".0.0/16,";
    text += ' ';
  }
  text += "classtype:trojan-activity; sid:" + std::to_string(sid) +
          "; rev:" + std::to_string(1 + random() % 9) + ";)";
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fputs("usage: make_rule_tree <directory> <megabytes> [files]\n", stderr);
    return 2;
  }
  std::string directory = argv[1];
  long long target = std::atoll(argv[2]) * 1000000LL;
  long long files = argc == 4 ? std::atoll(argv[3]) : 0;
  std::size_t file_size = files > 0 ? static_cast<std::size_t>(target / files) : 4000000;
  std::mt19937 random(42);
  long long written = 0;
  unsigned sid = 2000000;
  for (int file = 0; written < target; ++file) {
    std::string path =
        directory + "/set-" + std::to_string(file % 8) + "-" + std::to_string(file) + ".rules";
    FILE* out = std::fopen(path.c_str(), "w");
    if (!out) {
      std::perror(path.c_str());
      return 1;
    }
    std::string text;
    for (int i = 0; i < 30; ++i)
      text += "# Copyright (c) Example Threats; licence header line " + std::to_string(i) + "\n";
    text += "#\n\n";
    while (text.size() < file_size) {
      switch (random() % 10) {
        case 0:
          text += "# " + std::string(kProtocols[random() % 7]) + " section\n";
          break;
        case 1:
          text += "#" + rule(random, sid++) + "\n";
          break;
        case 2:
          text += "\n";
          break;
        default:
          text += rule(random, sid++) + "\n\n";
          break;
      }
    }
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    written += static_cast<long long>(text.size());
  }
  std::printf("%lld bytes\n", written);
  return 0;
}
