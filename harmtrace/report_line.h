#pragma once
// Report line writer: the fixed-width form "(i4,3f10.6,f16.8,2e18.8,f12.6)".

// Length of one report line without its line end.
constexpr int report_line_width = 98;
