// A password held in memory: moved, never copied, and overwritten when released.
#ifndef RYXDIR_SECRET_H
#define RYXDIR_SECRET_H

#include <string>

namespace ryxdir {

class Secret {
  public:
    Secret() = default;
    explicit Secret(std::string text) : m_text(std::move(text)) {}
    Secret(Secret&& other) noexcept { swap(other); }
    Secret& operator=(Secret&& other) noexcept {
        clear();
        swap(other);
        return *this;
    }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { clear(); }

    const std::string& text() const { return m_text; }
    bool empty() const { return m_text.empty(); }
    // Overwrites the text and empties it.
    void clear();

  private:
    void swap(Secret& other) noexcept { m_text.swap(other.m_text); }
    std::string m_text;
};

}  // namespace ryxdir

#endif
