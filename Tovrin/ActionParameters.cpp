#include "ActionParameters.h"

#include <algorithm>

#include "platform/CodePages.h"

const std::wstring& CActionParameters::Get(const std::string& name) const {
  static const std::wstring kEmpty;
  auto it = m_values.find(name);
  return it == m_values.end() ? kEmpty : it->second;
}

HRESULT ParseActionParameters(const std::wstring& text, CActionParameters& params) {
  enum class State { Idle, Name, Value, QuotedValue };
  State state = State::Idle;
  size_t slash = 0, nameEnd = 0, valueStart = 0;
  // The text ends at its first null, which is examined as the last character.
  const size_t length = std::min(text.size(), text.find(L'\0'));
  for (size_t i = 0; i <= length; ++i) {
    const wchar_t c = i < length ? text[i] : L'\0';
    switch (state) {
      case State::Idle:
        if (c == L'/') {
          slash = i;
          state = State::Name;
        } else if (c != L' ' && c != L'\0') {
          return E_INVALIDARG;
        }
        break;
      case State::Name:
        if (c == L'=') {
          nameEnd = valueStart = i;
          state = State::Value;
        } else if (c == L'\0') {
          return E_INVALIDARG;
        }
        break;
      case State::Value:
      case State::QuotedValue: {
        bool complete = state == State::Value ? (c == L' ' || c == L'\0') : c == L'"';
        if (state == State::Value && c == L'"') {
          valueStart = i;
          state = State::QuotedValue;
          break;
        }
        if (!complete) {
          if (c == L'\0') return E_INVALIDARG;  // an unterminated quoted value
          break;
        }
        std::wstring name = text.substr(slash + 1, nameEnd - slash - 1);
        params.Set(platform::WideToAnsi(name), text.substr(valueStart + 1, i - valueStart - 1));
        state = State::Idle;
        break;
      }
    }
  }
  return state == State::Idle ? S_OK : E_INVALIDARG;
}
