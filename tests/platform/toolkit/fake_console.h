// A scripted console for the text backend: time only moves when a loop waits,
// jumping to the next timer or scripted event, so tests run instantly and
// always in the same order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/toolkit/text/console.h"

namespace toolkit::test {

using text::Millis;
using text::Wake;

class FakeConsole final : public text::Console {
 public:
  void lineAt(Millis at, std::string line) { add(at, Wake::Line, std::move(line)); }
  void endAt(Millis at) { add(at, Wake::EndOfInput, {}); }
  void interruptAt(Millis at) { add(at, Wake::Interrupt, {}); }
  // Time spent inside a handler, as a slow step would.
  void advance(Millis by) { m_time += by; }

  Millis now() override { return m_time; }

  Wake wait(std::optional<Millis> deadline, text::InputWatch input) override {
    if (++m_waits > 100000) {
      ADD_FAILURE() << "the loop keeps waiting";
      return Wake::Interrupt;
    }
    auto event = std::find_if(m_events.begin(), m_events.end(), [&](const Event& e) {
      return e.kind == Wake::Interrupt || input == text::InputWatch::Watch;
    });
    if (event != m_events.end() && (!deadline || event->at <= *deadline)) {
      m_time = std::max(m_time, event->at);
      const Wake kind = event->kind;
      m_line = event->line;
      if (kind != Wake::EndOfInput) m_events.erase(event);  // the end of input stays
      return kind;
    }
    if (deadline) {
      m_time = std::max(m_time, *deadline);
      return Wake::Deadline;
    }
    ADD_FAILURE() << "a wait without a deadline and nothing scripted would block for ever";
    return Wake::Interrupt;
  }

  std::string takeLine() override { return m_line; }
  bool echoesInput() const override { return false; }

 private:
  struct Event {
    Millis at;
    Wake kind;
    std::string line;
  };
  void add(Millis at, Wake kind, std::string line) {
    auto pos = std::upper_bound(m_events.begin(), m_events.end(), at,
                                [](Millis t, const Event& e) { return t < e.at; });
    m_events.insert(pos, Event{at, kind, std::move(line)});
  }

  Millis m_time{0};
  std::vector<Event> m_events;
  std::string m_line;
  int m_waits = 0;
};

}  // namespace toolkit::test
