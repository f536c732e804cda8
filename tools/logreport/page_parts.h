#pragma once
// What the camera's page and the fleet's page share: plain HTML with inline
// SVG drawn by the tool, no script, so what the browser shows is what the
// page holds, and it opens offline.
#include <cstdint>
#include <string>
#include <vector>

std::string html_escaped(const std::string& text);
// The start of a page up to its heading, with the shared style.
std::string page_start(const std::string& title);
// "%.1f" for coordinates.
std::string svg_number(double value);
// The stamps' own date (they carry no zone): "2024-05-07", with the time "05-07 09:03".
std::string date_text(int64_t seconds, bool withTime);
// A small line of the values (NAN: none) over their times from `from` to `to`,
// on a scale from `low` to `high` that a column of them shares, for a table cell.
std::string sparkline(const std::vector<int64_t>& times, const std::vector<double>& values,
                      int64_t from, int64_t to, double low, double high, const std::string& title);
