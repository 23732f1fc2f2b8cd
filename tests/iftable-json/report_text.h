// Test helpers: the report's text spelled out independently of the converter, so
// tests can build whole expected outputs from rows and values.
#pragma once

#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

struct ReportColumn {
  const char* mib_name;
  const char* key;
};

// The report's members in their order.
inline const std::vector<ReportColumn> kReportColumns = {
    {"ifIndex", "camel_if_index"},
    {"ifDescr", "camel_if_descr"},
    {"ifType", "camel_if_type"},
    {"ifMtu", "camel_if_mtu"},
    {"ifSpeed", "camel_if_speed"},
    {"ifPhysAddress", "camel_if_phys_address"},
    {"ifAdminStatus", "camel_if_admin_status"},
    {"ifOperStatus", "camel_if_oper_status"},
    {"ifInOctets", "camel_if_in_octets"},
    {"ifInUcastPkts", "camel_if_in_ucast_pkts"},
    {"ifInNUcastPkts", "camel_if_in_n_ucast_pkts"},
    {"ifInDiscards", "camel_if_in_discards"},
    {"ifInErrors", "camel_if_in_errors"},
    {"ifInUnknownProtos", "camel_if_in_unknown_protos"},
    {"ifOutOctets", "camel_if_out_octets"},
    {"ifOutUcastPkts", "camel_if_out_ucast_pkts"},
    {"ifOutNUcastPkts", "camel_if_out_n_ucast_pkts"},
    {"ifOutDiscards", "camel_if_out_discards"},
    {"ifOutErrors", "camel_if_out_errors"},
    {"ifOutQLen", "camel_if_out_q_len"},
};

// The members that --ifx adds after those, in their order.
inline const std::vector<ReportColumn> kIfxReportColumns = {
    {"ifName", "camel_if_name"},
    {"ifInMulticastPkts", "camel_if_in_multicast_pkts"},
    {"ifInBroadcastPkts", "camel_if_in_broadcast_pkts"},
    {"ifOutMulticastPkts", "camel_if_out_multicast_pkts"},
    {"ifOutBroadcastPkts", "camel_if_out_broadcast_pkts"},
    {"ifHCInOctets", "camel_if_h_c_in_octets"},
    {"ifHCInUcastPkts", "camel_if_h_c_in_ucast_pkts"},
    {"ifHCInMulticastPkts", "camel_if_h_c_in_multicast_pkts"},
    {"ifHCInBroadcastPkts", "camel_if_h_c_in_broadcast_pkts"},
    {"ifHCOutOctets", "camel_if_h_c_out_octets"},
    {"ifHCOutUcastPkts", "camel_if_h_c_out_ucast_pkts"},
    {"ifHCOutMulticastPkts", "camel_if_h_c_out_multicast_pkts"},
    {"ifHCOutBroadcastPkts", "camel_if_h_c_out_broadcast_pkts"},
    {"ifLinkUpDownTrapEnable", "camel_if_link_up_down_trap_enable"},
    {"ifHighSpeed", "camel_if_high_speed"},
    {"ifPromiscuousMode", "camel_if_promiscuous_mode"},
    {"ifConnectorPresent", "camel_if_connector_present"},
    {"ifAlias", "camel_if_alias"},
    {"ifCounterDiscontinuityTime", "camel_if_counter_discontinuity_time"},
};

// One written row: its slot number and its values (already as JSON text) by IF-MIB
// name; a column not named gets the empty string.
struct ReportRow {
  int inner_index;
  std::map<std::string, std::string> values;
};

// One member: "<key>":[{"inner_index":n,"inner_<key>":"<value>"},...],
inline std::string report_member(const ReportColumn& column, const std::vector<ReportRow>& rows) {
  std::string text = std::string("\"") + column.key + "\":[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) text += ",";
    auto value = rows[i].values.find(column.mib_name);
    text += "{\"inner_index\":" + std::to_string(rows[i].inner_index) + ",\"inner_" + column.key +
            "\":\"" + (value == rows[i].values.end() ? "" : value->second) + "\"}";
  }
  return text + "],";
}

// The report up to the timestamp's value: everything a run fixes; with `ifx`, the
// members of the interface extension table too.
inline std::string report_head(const std::vector<ReportRow>& rows, bool ifx = false) {
  std::string text = "{";
  for (const ReportColumn& column : kReportColumns) text += report_member(column, rows);
  if (ifx) {
    for (const ReportColumn& column : kIfxReportColumns) text += report_member(column, rows);
  }
  return text + "\"timestamp\": \"";
}

// True when `tail` is a timestamp value "dd.mm.yyyy HH:MM:SS" closing the report.
inline bool is_timestamp_tail(std::string_view tail) {
  static const std::regex shape(R"(^\d{2}\.\d{2}\.\d{4} \d{2}:\d{2}:\d{2}"\}$)");
  return std::regex_match(tail.begin(), tail.end(), shape);
}
