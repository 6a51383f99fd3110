#include "vendor/fleet.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <ostream>

#include "system/text.h"
#include "vendor/control_text.h"

namespace mv {

namespace {

const char* const kHeadings[] = {"Customer",   "Computer",  "Database server",
                                 "Update",     "Installed", "Last report",
                                 "Days since", "Note"};

// "Status YYMMDDhhmmss.txt": the twelve digits sort as the times do.
bool IsStatusReport(const std::string& name) {
  if (name.size() != 23 || !EqualsIgnoreCase(name.substr(0, 7), "Status ") ||
      !EqualsIgnoreCase(name.substr(19), ".txt")) {
    return false;
  }
  return name.substr(7, 12).find_first_not_of("0123456789") ==
         std::string::npos;
}

std::optional<int64_t> DayNumber(int year, int month, int day) {
  using namespace std::chrono;
  year_month_day date{std::chrono::year{year},
                      std::chrono::month(static_cast<unsigned>(month)),
                      std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  return sys_days{date}.time_since_epoch().count();
}

// The date of "MM/DD/YYYY HH:NN:SS" (the separators of any region) as a
// day number.
std::optional<int64_t> DayOf(std::string_view text) {
  int month = 0, day = 0, year = 0;
  if (std::sscanf(std::string(text).c_str(), "%d%*[^0-9]%d%*[^0-9]%d", &month,
                  &day, &year) != 3) {
    return std::nullopt;
  }
  return DayNumber(year, month, day);
}

FleetRow ReadReport(const std::string& folder, const std::string& text,
                    std::optional<int32_t> latest, int behind_days,
                    int64_t today) {
  std::map<std::string, std::string> values;
  for (std::string_view line : SplitLines(text)) {
    line = TrimWhitespace(line);
    size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      values[std::string(line.substr(0, equals))] = line.substr(equals + 1);
    }
  }
  FleetRow row;
  row.customer =
      values["CustomerNumber"].empty() ? folder : values["CustomerNumber"];
  row.computer = values["LocalComputerName"];
  row.database_server = values["DatabaseServer"];
  Result<int32_t> update = ParseWholeNumber(values["LastUpdateInstalled"]);
  if (update.ok() && !values["LastUpdateInstalled"].empty()) {
    row.update = update.value();
  }
  row.installed_on = values["LastUpdateInstalledOn"];
  row.last_report = values["LastCommunication"];
  if (std::optional<int64_t> day = DayOf(row.last_report)) {
    row.days_since = today - *day;
  }
  std::vector<std::string> notes;
  if (!row.update || (latest && *row.update < *latest)) {
    notes.push_back("behind");
  }
  if (!row.days_since || *row.days_since > behind_days) {
    notes.push_back("silent");
  }
  for (const std::string& n : notes) {
    row.note += (row.note.empty() ? "" : ", ") + n;
  }
  return row;
}

std::vector<std::string> Cells(const FleetRow& r) {
  return {r.customer,
          r.computer,
          r.database_server,
          r.update ? std::to_string(*r.update) : "",
          r.installed_on,
          r.last_report,
          r.days_since ? std::to_string(*r.days_since) : "",
          r.note};
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text)
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The newest status report of a customer folder; nothing when it has none.
Result<std::optional<std::string>> NewestReport(VendorSite& site,
                                                const std::string& path) {
  Result<std::vector<std::string>> files = site.Files(path);
  if (!files.ok()) return files.failure();
  std::string newest;
  for (const std::string& name : files.value()) {
    if (IsStatusReport(name) &&
        (newest.empty() || name.substr(7, 12) > newest.substr(7, 12))) {
      newest = name;
    }
  }
  if (newest.empty()) return std::optional<std::string>();
  return site.Fetch(path + "/" + newest);
}

}  // namespace

Result<std::vector<FleetRow>> ReadFleet(VendorSite& site,
                                        std::optional<int32_t> latest,
                                        int behind_days, const DateTime& now) {
  Result<std::vector<std::string>> folders = site.Folders("Merivane");
  if (!folders.ok()) return folders.failure();
  int64_t today = DayNumber(now.year, now.month, now.day).value_or(0);
  std::vector<FleetRow> rows;
  rows.reserve(folders.value().size());
  for (const std::string& folder : folders.value()) {
    if (EqualsIgnoreCase(folder, "Update")) continue;
    Result<std::optional<std::string>> text =
        NewestReport(site, "Merivane/" + folder);
    if (!text.ok() || !text.value()) {
      // One customer's folder that cannot be read does not hide the rest.
      FleetRow row;
      row.customer = folder;
      row.note = text.ok() ? "no report" : "unreadable";
      rows.push_back(std::move(row));
      continue;
    }
    rows.push_back(
        ReadReport(folder, *text.value(), latest, behind_days, today));
  }
  return rows;
}

void WriteFleetTable(const std::vector<FleetRow>& rows, std::ostream& out) {
  std::vector<size_t> widths;
  for (const char* h : kHeadings) widths.push_back(std::string(h).size());
  for (const FleetRow& r : rows) {
    std::vector<std::string> cells = Cells(r);
    for (size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], cells[i].size());
    }
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t i = 0; i < cells.size(); ++i) {
      text += cells[i];
      if (i + 1 < cells.size())
        text += std::string(widths[i] - cells[i].size() + 2, ' ');
    }
    out << text.substr(0, text.find_last_not_of(' ') + 1) << "\n";
  };
  line(std::vector<std::string>(std::begin(kHeadings), std::end(kHeadings)));
  for (const FleetRow& r : rows) line(Cells(r));
}

void WriteFleetCsv(const std::vector<FleetRow>& rows, std::ostream& out) {
  auto line = [&out](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) {
      out << (i ? "," : "") << CsvField(cells[i]);
    }
    out << "\r\n";
  };
  line(std::vector<std::string>(std::begin(kHeadings), std::end(kHeadings)));
  for (const FleetRow& r : rows) line(Cells(r));
}

void WriteFleetHtml(const std::vector<FleetRow>& rows,
                    std::optional<int32_t> latest, const std::string& site,
                    std::ostream& out) {
  size_t marked = 0;
  for (const FleetRow& r : rows) marked += r.note.empty() ? 0 : 1;
  out << R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Merivane fleet</title>
<style>
body { font: 14px sans-serif; margin: 1.5em; color: #222; }
table { border-collapse: collapse; }
th, td { padding: .3em .8em; border-bottom: 1px solid #ddd; text-align: left; }
th { background: #2d4f6c; color: #fff; cursor: pointer; user-select: none; }
th.up::after { content: " \25B2"; } th.down::after { content: " \25BC"; }
td.n { text-align: right; }
tr.marked td { background: #fde8e4; }
tr.marked td:last-child { color: #a4221a; font-weight: bold; }
</style></head><body>
<h1>Merivane fleet</h1>
<p>)" << Html(site)
      << ": " << rows.size() << " customers, latest update "
      << (latest ? std::to_string(*latest) : std::string("unknown")) << ", "
      << marked << R"( marked. Click a heading to sort.</p>
<table id="fleet"><thead><tr>)";
  for (const char* h : kHeadings) out << "<th>" << h << "</th>";
  out << "</tr></thead><tbody>\n";
  for (const FleetRow& r : rows) {
    out << (r.note.empty() ? "<tr>" : "<tr class=\"marked\">");
    std::vector<std::string> cells = Cells(r);
    for (size_t i = 0; i < cells.size(); ++i) {
      bool number = i == 3 || i == 6;
      out << (number ? "<td class=\"n\">" : "<td>") << Html(cells[i])
          << "</td>";
    }
    out << "</tr>\n";
  }
  out << R"(</tbody></table>
<script>
// Sorts by the clicked column: numbers as numbers, dates MM/DD/YYYY by
// their date, the rest as text; a second click reverses.
(function () {
  var table = document.getElementById("fleet");
  var heads = table.tHead.rows[0].cells;
  function key(text) {
    var d = /^(\d\d)\/(\d\d)\/(\d{4})(.*)$/.exec(text);
    if (d) return d[3] + d[1] + d[2] + d[4];
    return text;
  }
  function compare(a, b) {
    var x = parseFloat(a), y = parseFloat(b);
    if (!isNaN(x) && !isNaN(y) && String(x) === a && String(y) === b) return x - y;
    a = key(a); b = key(b);
    return a < b ? -1 : a > b ? 1 : 0;
  }
  Array.prototype.forEach.call(heads, function (th, column) {
    th.addEventListener("click", function () {
      var up = !th.classList.contains("up");
      Array.prototype.forEach.call(heads, function (h) { h.className = ""; });
      th.className = up ? "up" : "down";
      var body = table.tBodies[0];
      var rows = Array.prototype.slice.call(body.rows);
      rows.sort(function (r, s) {
        var c = compare(r.cells[column].textContent, s.cells[column].textContent);
        return up ? c : -c;
      });
      rows.forEach(function (r) { body.appendChild(r); });
    });
  });
})();
</script>
</body></html>
)";
}

}  // namespace mv
