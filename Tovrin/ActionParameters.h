// Action parameters: "/name=value" items of a parameter text.
#pragma once

#include <map>
#include <string>

#include "platform/WinTypes.h"

// Name (narrow, compared exactly) to value (wide); the last item of a name wins.
class CActionParameters {
 public:
  // The value of name, or the empty text when absent.
  const std::wstring& Get(const std::string& name) const;
  bool Has(const std::string& name) const { return m_values.count(name) != 0; }
  void Set(std::string name, std::wstring value) { m_values[std::move(name)] = std::move(value); }
  size_t Size() const { return m_values.size(); }

 private:
  std::map<std::string, std::wstring> m_values;
};

// S_OK, or E_INVALIDARG for a malformed text (items before the fault stay).
HRESULT ParseActionParameters(const std::wstring& text, CActionParameters& params);
