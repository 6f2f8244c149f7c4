// quaxreport's pages as a reader sees them: rendered by Debian's chromium
// (headless) into the DOM after layout or into a screenshot, and the text
// of a table of that DOM. Chromium runs only in the native build.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine_test_support.h"
#include "tools/csv_text.h"

namespace quax::agg::testing {

// The text of an HTML fragment: tags left out, the entities the DOM writes
// turned back into characters.
inline std::string PageText(std::string_view html) {
  std::string text;
  for (std::size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '<') {
      const std::size_t end = html.find('>', i);
      if (end == std::string_view::npos) break;
      i = end;
      continue;
    }
    if (html[i] == '&') {
      static constexpr std::pair<std::string_view, char> kEntities[] = {
          {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&nbsp;", ' '}};
      bool decoded = false;
      for (const auto& [entity, c] : kEntities) {
        if (html.substr(i, entity.size()) == entity) {
          text += c;
          i += entity.size() - 1;
          decoded = true;
          break;
        }
      }
      if (decoded) continue;
    }
    text += html[i];
  }
  return text;
}

// The part of the page from the element with `id` to its end tag `endTag`.
inline std::string ElementById(const std::string& page, const std::string& id, const std::string& endTag) {
  const std::size_t start = page.find("id=\"" + id + "\"");
  if (start == std::string::npos) return "";
  const std::size_t end = page.find(endTag, start);
  return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The rows of a table (its head, body and foot), each as its cells' text.
inline std::vector<std::vector<std::string>> TableRows(const std::string& page, const std::string& id) {
  const std::string table = ElementById(page, id, "</table>");
  std::vector<std::vector<std::string>> rows;
  for (std::size_t row = table.find("<tr"); row != std::string::npos; row = table.find("<tr", row + 1)) {
    const std::size_t rowEnd = table.find("</tr>", row);
    std::vector<std::string> cells;
    for (std::size_t cell = table.find("<t", row + 3); cell < rowEnd; cell = table.find("<t", cell + 1)) {
      if (table.compare(cell, 3, "<td") != 0 && table.compare(cell, 3, "<th") != 0) continue;
      const std::size_t open = table.find('>', cell) + 1;
      const std::size_t close = table.find("</t", open);
      cells.push_back(PageText(std::string_view(table).substr(open, close - open)));
      cell = close;
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

// The rows of the page's totals table as quaxbill's CSV lines: the text
// cells (the first `textColumns`) as they are, the numbers without their
// thousands separators.
inline std::string TotalsAsCsv(const std::string& page, std::size_t textColumns) {
  std::string csv;
  for (const std::vector<std::string>& row : TableRows(page, "totals")) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      std::string cell = row[i];
      if (i >= textColumns) std::erase(cell, ',');
      csv += (i > 0 ? "," : "") + tools::CsvField(cell);
    }
    csv += "\n";
  }
  return csv;
}

#ifndef _WIN32
// Chromium, headless, with a profile of its own in `folder`; its output in
// `output`. Background requests of the browser itself are its own affair;
// the net log tells them from the page's.
inline int RunChromium(const ScratchFolder& folder, const std::vector<std::string>& arguments, const std::string& output) {
  std::string command = "timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run "
                        "--hide-scrollbars --user-data-dir='" + folder.File("chromium-profile") + "'";
  for (const std::string& argument : arguments) command += " '" + argument + "'";
  command += " > '" + output + "' 2> '" + output + ".log'";
  return std::system(command.c_str());
}

struct RenderedPage {
  std::string Dom;
  // The initiators of the network requests the page made (the browser's
  // own requests have none).
  std::vector<std::string> PageRequests;
};

inline RenderedPage RenderPage(const ScratchFolder& folder, const std::string& page) {
  RenderedPage rendered;
  const std::string dom = folder.File("dom.html");
  const std::string netLog = folder.File("netlog.json");
  EXPECT_EQ(RunChromium(folder, {"--log-net-log=" + netLog, "--dump-dom", "file://" + page}, dom), 0)
      << "chromium (scripts/setup installs it): " << ReadText(dom + ".log");
  rendered.Dom = ReadText(dom);
  const std::string log = ReadText(netLog);
  EXPECT_FALSE(log.empty()) << "chromium wrote no net log";
  static constexpr std::string_view kInitiator = "\"initiator\":\"";
  for (std::size_t at = log.find(kInitiator); at != std::string::npos; at = log.find(kInitiator, at + 1)) {
    const std::size_t start = at + kInitiator.size();
    const std::string initiator = log.substr(start, log.find('"', start) - start);
    if (initiator != "not an origin") rendered.PageRequests.push_back(initiator);
  }
  return rendered;
}

inline void Screenshot(const ScratchFolder& folder, const std::string& page, const std::string& png) {
  EXPECT_EQ(RunChromium(folder, {"--window-size=1280,2600", "--screenshot=" + png, "file://" + page},
                        folder.File("screenshot.txt")),
            0)
      << ReadText(folder.File("screenshot.txt.log"));
}
#endif

}  // namespace quax::agg::testing
