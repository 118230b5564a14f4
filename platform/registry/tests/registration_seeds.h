#pragma once
// Registration scripts of the shape components carry, for the fuzz targets' seeds.
#include <string>
#include <vector>

inline void addRegistrationScripts(std::vector<std::string>& seeds) {
  seeds.push_back(R"(HKCR
{
  VelkariRAID.SorventicRAID.1 = s 'brk Class'
  {
    CLSID = s '{88AE717A-ACF1-4BBA-B7E3-C13F64F8908A}'
  }
  NoRemove CLSID
  {
    ForceRemove {88AE717A-ACF1-4BBA-B7E3-C13F64F8908A} = s 'brk Class'
    {
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
})");
  seeds.push_back(R"(HKLM { NoRemove Software { NoRemove Kelm {
      Delete Old
      Serial = s '100%% it''s %MODULE%'
      {
        val Number = d '0x2C'
        val Decimal = d 42
        val Bytes = b '00ff10'
        val Ports = m 'Com1\0Com2\0'
      }
  } } })");
}
