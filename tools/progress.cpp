#include "tools/progress.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kBarWidth = 24;
}

Progress::Progress(std::FILE* out, bool enabled, size_t total)
    : m_out(out), m_enabled(enabled && total > 0), m_total(total),
      m_start(std::chrono::steady_clock::now()), m_lastDraw(m_start) {}

double Progress::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void Progress::Update(size_t done, size_t failed) {
    if (!m_enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < m_total && m_drawn && now - m_lastDraw < std::chrono::milliseconds(100)) return;
    m_lastDraw = now;
    m_drawn = true;
    const double seconds = Seconds();
    const double rate = seconds > 0 ? done / seconds : 0.0;
    const double left = rate > 0 ? (m_total - done) / rate : 0.0;
    const int filled = static_cast<int>(kBarWidth * done / m_total);
    std::string bar(filled, '#');
    bar.append(kBarWidth - filled, '.');
    const std::string failures = failed ? " (" + std::to_string(failed) + " failed)" : "";
    const int length = std::fprintf(m_out, "\r[%s] %zu/%zu frames%s  %.1f fps  %s left", bar.c_str(),
                                    done, m_total, failures.c_str(), rate, ClockText(left).c_str());
    // Blanks over what is left of a longer line drawn before.
    if (length > 0 && length < m_drawnLength) std::fprintf(m_out, "%*s", m_drawnLength - length, "");
    m_drawnLength = std::max(m_drawnLength, length);
    std::fflush(m_out);
}

void Progress::Finish() {
    if (m_enabled && m_drawnLength > 0) {
        // Spaces over exactly the drawn line: padding past the terminal's
        // width would wrap and leave an empty line behind.
        std::fprintf(m_out, "\r%*s\r", m_drawnLength - 1, "");
        std::fflush(m_out);
        m_drawnLength = 0;
    }
}

std::string SummaryLine(size_t decoded, size_t failed, size_t dropped, double seconds,
                        double megapixels) {
    char text[256];
    const double fps = seconds > 0 ? decoded / seconds : 0.0;
    const double mps = seconds > 0 ? megapixels / seconds : 0.0;
    std::snprintf(text, sizeof(text),
                  "%zu frame%s decoded, %zu failed%s in %.2f s: %.1f frames/s, %.1f megapixels/s",
                  decoded, decoded == 1 ? "" : "s", failed,
                  dropped ? (", " + std::to_string(dropped) + " dropped").c_str() : "", seconds,
                  fps, mps);
    return text;
}

std::string ClockText(double seconds) {
    const long whole = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof(text), "%ld:%02ld", whole / 60, whole % 60);
    return text;
}
