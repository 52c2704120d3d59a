// _com_error as the compiler's COM support declares it.
#pragma once
#include <windows.h>

class _com_error {
 public:
  virtual ~_com_error() {
    if (m_perrinfo != nullptr) m_perrinfo->Release();
  }
  HRESULT Error() const { return m_hresult; }
  IErrorInfo* ErrorInfo() const {
    if (m_perrinfo != nullptr) m_perrinfo->AddRef();
    return m_perrinfo;
  }

 private:
  HRESULT m_hresult;
  IErrorInfo* m_perrinfo;
  mutable wchar_t* m_pszMsg;
};
