// The progress bar (on a terminal only) and the summary line of a run.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

class Progress {
public:
    // `enabled`: draw the bar on `out` (the caller decides: a terminal, not -q).
    Progress(std::FILE* out, bool enabled, size_t total);

    // Frames handed over so far, of which `failed` failed. Redraws at most
    // ten times a second, and always for the last frame.
    void Update(size_t done, size_t failed);

    // Clears the bar, so that a message or the summary line takes its place.
    void Finish();

    double Seconds() const;

private:
    std::FILE* m_out;
    bool m_enabled;
    size_t m_total;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
    bool m_drawn = false;
    int m_drawnLength = 0;  // characters of the longest line on screen, with the '\r'

};

// "90 frames decoded, 0 failed in 0.52 s: 173.1 frames/s, 25.5 megapixels/s"
std::string SummaryLine(size_t decoded, size_t failed, size_t dropped, double seconds,
                        double megapixels);

// "m:ss" for a time in seconds.
std::string ClockText(double seconds);
