{ Checks shared by the Pascal test programs: "ok ..." or "FAIL ..." lines, and an exit code counting failures. }
unit zv_checks;

{$mode delphi}{$H+}

interface

uses Windows;

var
  Failures: Integer = 0;

procedure Check(Passed: Boolean; const What: string);

{ What DllCanUnloadNow of the OCX loaded in this process answers; E_UNEXPECTED when the OCX is not loaded,
  E_NOINTERFACE when it has no such export. }
function OcxCanUnloadNow: HRESULT;

{ The program's exit code: 0 when every check passed. }
function Finish: Integer;

implementation

uses SysUtils;

type
  TDllCanUnloadNow = function: HRESULT; stdcall;

procedure Check(Passed: Boolean; const What: string);
begin
  if Passed then
    WriteLn('ok ', What)
  else
  begin
    WriteLn('FAIL ', What);
    Inc(Failures);
  end;
end;

function OcxCanUnloadNow: HRESULT;
var
  Module: HMODULE;
  CanUnloadNow: TDllCanUnloadNow;
begin
  Module := GetModuleHandleW('ZorvaneLib.ocx');
  if Module = 0 then
    Exit(E_UNEXPECTED);
  CanUnloadNow := TDllCanUnloadNow(GetProcAddress(Module, 'DllCanUnloadNow'));
  if not Assigned(CanUnloadNow) then
    Exit(E_NOINTERFACE);
  Result := CanUnloadNow();
end;

function Finish: Integer;
begin
  if Failures = 0 then
    WriteLn('done')
  else
    WriteLn(Failures, ' check(s) failed');
  Result := Failures;
end;

end.
