// Writes a large walk for the iftable-json benchmark, shaped like snmpwalk's output
// for a whole device: the system group, an interface table of 16 interfaces, then
// mostly lines outside it (ARP and routing entries, TCP connections, running
// processes, storage, the ifXTable) until the file reaches the size asked for. With
// "long-line", the size goes to one single line outside the table (a process's
// arguments) before the system group and the interface table instead.
//
// usage: make_walk <path> <megabytes> [long-line]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kInterfaces = 16;

void write_system(FILE* out) {
  std::fputs(
      "iso.3.6.1.2.1.1.1.0 = STRING: \"Linux edge-router 6.1.0-27-amd64 #1 SMP PREEMPT_DYNAMIC "
      "Debian 6.1.115-1 (2024-11-01) x86_64\"\n"
      "iso.3.6.1.2.1.1.2.0 = OID: iso.3.6.1.4.1.8072.3.2.10\n"
      "iso.3.6.1.2.1.1.3.0 = Timeticks: (183451233) 21 days, 5:35:12.33\n"
      "iso.3.6.1.2.1.1.4.0 = STRING: \"noc <noc@example.org>\"\n"
      "iso.3.6.1.2.1.1.5.0 = STRING: \"edge-router\"\n"
      "iso.3.6.1.2.1.1.6.0 = STRING: \"rack 4, row B\"\n"
      "iso.3.6.1.2.1.1.7.0 = INTEGER: 72\n"
      "iso.3.6.1.2.1.2.1.0 = INTEGER: 16\n",
      out);
}

const char* interface_name(int i) {
  static const char* names[kInterfaces] = {
      "lo",     "enp1s0f0", "enp1s0f1", "enp2s0", "eno1",     "eno2",  "wlp3s0",  "docker0",
      "br-lan", "veth12ab", "tun0",     "ens5",   "enp4s0d1", "bond0", "vlan100", "enx0c5b8f2794"};
  return names[i];
}

void write_interfaces(FILE* out) {
  const int columns[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                         12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
  for (int column : columns) {
    for (int i = 0; i < kInterfaces; ++i) {
      int index = i + 1;
      std::fprintf(out, "iso.3.6.1.2.1.2.2.1.%d.%d = ", column, index);
      switch (column) {
        case 1:
          std::fprintf(out, "INTEGER: %d\n", index);
          break;
        case 2:
          std::fprintf(out, "STRING: \"%s\"\n", interface_name(i));
          break;
        case 3:
          std::fprintf(out, "INTEGER: %d\n", i == 0 ? 24 : 6);
          break;
        case 4:
          std::fprintf(out, "INTEGER: %d\n", i == 0 ? 65536 : 1500);
          break;
        case 5:
          std::fprintf(out, "Gauge32: %d\n", i == 0 ? 10000000 : 1000000000);
          break;
        case 6:
          if (i == 0) {
            std::fputs("\"\"\n", out);
          } else {
            std::fprintf(out, "Hex-STRING: 0C 5B 8F 27 %02X %02X \n", i * 7 & 255, i * 13 & 255);
          }
          break;
        case 9:
          std::fprintf(out, "Timeticks: (%d) 0:00:%02d.00\n", i * 100, i);
          break;
        case 22:
          std::fputs("OID: ccitt.0\n", out);
          break;
        default:
          std::fprintf(out, "Counter32: %u\n", 1000003u * static_cast<unsigned>(index * column));
          break;
      }
    }
  }
}

// One line outside the interface table; `n` picks its kind and values.
void write_filler(FILE* out, unsigned long n) {
  unsigned a = n % 251, b = n / 251 % 251, c = n / 63001 % 251;
  switch (n % 6) {
    case 0:
      std::fprintf(
          out, "iso.3.6.1.2.1.4.22.1.2.%lu.10.%u.%u.%u = Hex-STRING: 52 54 00 %02X %02X %02X \n",
          n % 16 + 1, c, b, a, a, b, c);
      break;
    case 1:
      std::fprintf(out,
                   "iso.3.6.1.2.1.4.24.4.1.16.10.%u.%u.0.255.255.255.0.0.0.0.0.0 = INTEGER: %u\n",
                   b, a, c);
      break;
    case 2:
      std::fprintf(out, "iso.3.6.1.2.1.6.13.1.1.10.0.%u.%u.%lu.10.0.%u.%u.443 = INTEGER: 5\n", b, a,
                   n % 60000 + 1024, c, a);
      break;
    case 3:
      std::fprintf(out, "iso.3.6.1.2.1.25.4.2.1.2.%lu = STRING: \"kworker/%u:%u-events\"\n", n,
                   a % 4, b);
      break;
    case 4:
      std::fprintf(out, "iso.3.6.1.2.1.25.2.3.1.6.%lu = INTEGER: %lu\n", n, n * 37 % 1000003);
      break;
    default:
      std::fprintf(out, "iso.3.6.1.2.1.31.1.1.1.6.%lu = Counter64: %lu\n", n % 16 + 1, n * 1499);
      break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool long_line = argc == 4 && std::string(argv[3]) == "long-line";
  if (argc != 3 && !long_line) {
    std::fputs("usage: make_walk <path> <megabytes> [long-line]\n", stderr);
    return 2;
  }
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  const long target = std::strtol(argv[2], nullptr, 10) << 20;
  if (long_line) {
    std::fputs("iso.3.6.1.2.1.25.4.2.1.5.4242 = STRING: \"", out);
    static char run[1 << 16];
    for (std::size_t i = 0; i < sizeof run; ++i) run[i] = "--verbose /var/lib/x "[i % 21];
    for (long left = target; left > 0; left -= static_cast<long>(sizeof run)) {
      std::fwrite(run, 1, std::min<std::size_t>(sizeof run, static_cast<std::size_t>(left)), out);
    }
    std::fputs("\"\n", out);
    write_system(out);
    write_interfaces(out);
  } else {
    write_system(out);
    write_interfaces(out);
    for (unsigned long n = 0; std::ftell(out) < target; ++n) write_filler(out, n);
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "%s: write error\n", argv[1]);
    return 1;
  }
  return 0;
}
