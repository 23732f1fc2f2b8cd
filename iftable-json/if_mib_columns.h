// The interface tables of IF-MIB as the walk is read through them: every entry's OID in
// the iso. form, its name as the standard spells it, what kind of entry it is and, for a
// column, its key in the report. Every form snmpwalk prints a line in is turned into the
// iso. form and then read through this table.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

enum class EntryKind : unsigned char {
  kTable,   // the table itself: its lines name no row
  kRow,     // the row container: the row is the component after the column number
  kColumn,  // a column whose values are kept: the row is the component after its OID
};

struct ColumnEntry {
  std::string_view oid;
  std::string_view name;  // the IF-MIB object name, as the standard spells it
  EntryKind kind;
  std::string_view key;  // a column's report key: make_identifier(name)
};

// ifLastChange (.9) and ifSpecific (.22) are left out: their lines still claim a
// row slot through ifEntry, but their values are never kept. The interface extension
// table (ifXTable) follows from kFirstIfxEntry on: its rows are the same interfaces.
inline constexpr std::array<ColumnEntry, 42> column_table = {{
    {"iso.3.6.1.2.1.2.2", "ifTable", EntryKind::kTable, ""},
    {"iso.3.6.1.2.1.2.2.1", "ifEntry", EntryKind::kRow, ""},
    {"iso.3.6.1.2.1.2.2.1.1", "ifIndex", EntryKind::kColumn, "camel_if_index"},
    {"iso.3.6.1.2.1.2.2.1.2", "ifDescr", EntryKind::kColumn, "camel_if_descr"},
    {"iso.3.6.1.2.1.2.2.1.3", "ifType", EntryKind::kColumn, "camel_if_type"},
    {"iso.3.6.1.2.1.2.2.1.4", "ifMtu", EntryKind::kColumn, "camel_if_mtu"},
    {"iso.3.6.1.2.1.2.2.1.5", "ifSpeed", EntryKind::kColumn, "camel_if_speed"},
    {"iso.3.6.1.2.1.2.2.1.6", "ifPhysAddress", EntryKind::kColumn, "camel_if_phys_address"},
    {"iso.3.6.1.2.1.2.2.1.7", "ifAdminStatus", EntryKind::kColumn, "camel_if_admin_status"},
    {"iso.3.6.1.2.1.2.2.1.8", "ifOperStatus", EntryKind::kColumn, "camel_if_oper_status"},
    {"iso.3.6.1.2.1.2.2.1.10", "ifInOctets", EntryKind::kColumn, "camel_if_in_octets"},
    {"iso.3.6.1.2.1.2.2.1.11", "ifInUcastPkts", EntryKind::kColumn, "camel_if_in_ucast_pkts"},
    {"iso.3.6.1.2.1.2.2.1.12", "ifInNUcastPkts", EntryKind::kColumn, "camel_if_in_n_ucast_pkts"},
    {"iso.3.6.1.2.1.2.2.1.13", "ifInDiscards", EntryKind::kColumn, "camel_if_in_discards"},
    {"iso.3.6.1.2.1.2.2.1.14", "ifInErrors", EntryKind::kColumn, "camel_if_in_errors"},
    {"iso.3.6.1.2.1.2.2.1.15", "ifInUnknownProtos", EntryKind::kColumn,
     "camel_if_in_unknown_protos"},
    {"iso.3.6.1.2.1.2.2.1.16", "ifOutOctets", EntryKind::kColumn, "camel_if_out_octets"},
    {"iso.3.6.1.2.1.2.2.1.17", "ifOutUcastPkts", EntryKind::kColumn, "camel_if_out_ucast_pkts"},
    {"iso.3.6.1.2.1.2.2.1.18", "ifOutNUcastPkts", EntryKind::kColumn, "camel_if_out_n_ucast_pkts"},
    {"iso.3.6.1.2.1.2.2.1.19", "ifOutDiscards", EntryKind::kColumn, "camel_if_out_discards"},
    {"iso.3.6.1.2.1.2.2.1.20", "ifOutErrors", EntryKind::kColumn, "camel_if_out_errors"},
    {"iso.3.6.1.2.1.2.2.1.21", "ifOutQLen", EntryKind::kColumn, "camel_if_out_q_len"},
    {"iso.3.6.1.2.1.31.1.1.1", "ifXEntry", EntryKind::kRow, ""},
    {"iso.3.6.1.2.1.31.1.1.1.1", "ifName", EntryKind::kColumn, "camel_if_name"},
    {"iso.3.6.1.2.1.31.1.1.1.2", "ifInMulticastPkts", EntryKind::kColumn,
     "camel_if_in_multicast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.3", "ifInBroadcastPkts", EntryKind::kColumn,
     "camel_if_in_broadcast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.4", "ifOutMulticastPkts", EntryKind::kColumn,
     "camel_if_out_multicast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.5", "ifOutBroadcastPkts", EntryKind::kColumn,
     "camel_if_out_broadcast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.6", "ifHCInOctets", EntryKind::kColumn, "camel_if_h_c_in_octets"},
    {"iso.3.6.1.2.1.31.1.1.1.7", "ifHCInUcastPkts", EntryKind::kColumn,
     "camel_if_h_c_in_ucast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.8", "ifHCInMulticastPkts", EntryKind::kColumn,
     "camel_if_h_c_in_multicast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.9", "ifHCInBroadcastPkts", EntryKind::kColumn,
     "camel_if_h_c_in_broadcast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.10", "ifHCOutOctets", EntryKind::kColumn, "camel_if_h_c_out_octets"},
    {"iso.3.6.1.2.1.31.1.1.1.11", "ifHCOutUcastPkts", EntryKind::kColumn,
     "camel_if_h_c_out_ucast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.12", "ifHCOutMulticastPkts", EntryKind::kColumn,
     "camel_if_h_c_out_multicast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.13", "ifHCOutBroadcastPkts", EntryKind::kColumn,
     "camel_if_h_c_out_broadcast_pkts"},
    {"iso.3.6.1.2.1.31.1.1.1.14", "ifLinkUpDownTrapEnable", EntryKind::kColumn,
     "camel_if_link_up_down_trap_enable"},
    {"iso.3.6.1.2.1.31.1.1.1.15", "ifHighSpeed", EntryKind::kColumn, "camel_if_high_speed"},
    {"iso.3.6.1.2.1.31.1.1.1.16", "ifPromiscuousMode", EntryKind::kColumn,
     "camel_if_promiscuous_mode"},
    {"iso.3.6.1.2.1.31.1.1.1.17", "ifConnectorPresent", EntryKind::kColumn,
     "camel_if_connector_present"},
    {"iso.3.6.1.2.1.31.1.1.1.18", "ifAlias", EntryKind::kColumn, "camel_if_alias"},
    {"iso.3.6.1.2.1.31.1.1.1.19", "ifCounterDiscontinuityTime", EntryKind::kColumn,
     "camel_if_counter_discontinuity_time"},
}};

inline constexpr int kDescrColumn = 3;        // ifDescr decides which rows are written
inline constexpr int kFirstReportColumn = 2;  // the report starts at ifIndex
inline constexpr int kFirstIfxEntry = 22;     // ifXEntry and its columns
static_assert(column_table[kFirstIfxEntry].name == "ifXEntry");
static_assert(column_table[kDescrColumn].name == "ifDescr");
// The longest OID of the table: a line whose first bytes are longer names its column.
inline constexpr std::size_t kLongestOid = 25;

// The names snmpwalk prints for the objects above the columns, and for the columns of
// ifTable whose values are not kept, with their OIDs in the iso. form. With the entries
// of column_table they are every name a line of the two tables can be written with.
struct NamedObject {
  std::string_view name;
  std::string_view oid;
};

inline constexpr std::array<NamedObject, 12> named_objects = {{
    {"iso", "iso"},
    {"org", "iso.3"},
    {"dod", "iso.3.6"},
    {"internet", "iso.3.6.1"},
    {"mgmt", "iso.3.6.1.2"},
    {"mib-2", "iso.3.6.1.2.1"},
    {"interfaces", "iso.3.6.1.2.1.2"},
    {"ifLastChange", "iso.3.6.1.2.1.2.2.1.9"},
    {"ifSpecific", "iso.3.6.1.2.1.2.2.1.22"},
    {"ifMIB", "iso.3.6.1.2.1.31"},
    {"ifMIBObjects", "iso.3.6.1.2.1.31.1"},
    {"ifXTable", "iso.3.6.1.2.1.31.1.1"},
}};

// The OID of the object named `name` (a name of column_table or named_objects), or "".
constexpr std::string_view object_oid(std::string_view name) {
  for (const ColumnEntry& entry : column_table) {
    if (entry.name == name) return entry.oid;
  }
  for (const NamedObject& object : named_objects) {
    if (object.name == name) return object.oid;
  }
  return {};
}
static_assert(object_oid("ifXTable") == "iso.3.6.1.2.1.31.1.1");
