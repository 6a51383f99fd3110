// The fleet: which update every customer's installation reports, and when
// it last reported, from the newest status report in each customer folder.
#ifndef MVUPDATE_VENDOR_FLEET_H_
#define MVUPDATE_VENDOR_FLEET_H_

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "system/date_time.h"
#include "vendor/vendor_site.h"

namespace mv {

struct FleetRow {
  std::string customer;  // the report's CustomerNumber, else the folder
  std::string computer;
  std::string database_server;
  std::optional<int32_t> update;
  std::string installed_on;
  std::string last_report;            // LastCommunication as written
  std::optional<int64_t> days_since;  // nothing without a readable date
  std::string note;                   // why the row is marked; "" when not
};

// One row per customer folder below Merivane (all but Update), in folder
// order, reading one report per folder. `latest` is the site's LASTUPDATE;
// rows behind it or silent for more than `behind_days` are marked, and so
// are folders without a report or whose report cannot be read.
Result<std::vector<FleetRow>> ReadFleet(VendorSite& site,
                                        std::optional<int32_t> latest,
                                        int behind_days, const DateTime& now);

void WriteFleetTable(const std::vector<FleetRow>& rows, std::ostream& out);
void WriteFleetCsv(const std::vector<FleetRow>& rows, std::ostream& out);
// One self-contained page: the table, sortable by a click on a column
// heading; no file from elsewhere.
void WriteFleetHtml(const std::vector<FleetRow>& rows,
                    std::optional<int32_t> latest, const std::string& site,
                    std::ostream& out);

}  // namespace mv

#endif  // MVUPDATE_VENDOR_FLEET_H_
