{ The control on a Lazarus form in LazActiveX's TActiveXContainer, at run time and while it is designed. }
program lazarus_form;

{$mode delphi}{$H+}
{$apptype console}

uses
  Interfaces, Classes, SysUtils, Forms, Controls, Windows, ActiveX, ComObj, Variants, ActiveXContainer,
  zv_checks;

type
  { A container on a form being designed: the stock container's ambient UserMode is then False. }
  TDesignTimeContainer = class(TActiveXContainer)
  public
    constructor Create(TheOwner: TComponent); override;
  end;

constructor TDesignTimeContainer.Create(TheOwner: TComponent);
begin
  inherited Create(TheOwner);
  SetDesigning(True, False);
end;

{ ole32's CoFreeUnusedLibrariesEx, which the ActiveX unit does not declare. }
procedure CoFreeUnusedLibrariesEx(UnloadDelay, Reserved: DWORD); stdcall; external 'ole32.dll';

const
  ProgID = 'ZorvaneLib.Zorvane';
  FaceSide = 42; { 630 twips at 96 dots per inch }

{ Late-bound calls through the container: its ComServer as an OleVariant, and its vObject. }
procedure CallThrough(Container: TActiveXContainer; const Where: string);
var
  Z: OleVariant;
  Drive: WideString;
  Text: string;
begin
  Z := Container.ComServer;
  Text := Z.WindowsMajorVersion;
  Check(StrToIntDef(Text, -1) > 0, Where + ': WindowsMajorVersion through ComServer: ' + Text);
  Drive := 'C:\';
  Text := Container.vObject.GetDriveFileSystem(Drive);
  Check((Text <> '') and (Text[1] = '(') and (Drive = 'C:\'), Where + ': GetDriveFileSystem through vObject: ' +
    Text);
  try
    Z.SetCursorPosition('abc', 'def');
    Check(False, Where + ': SetCursorPosition(''abc'', ''def'') raised nothing');
  except
    on E: EOleException do
      Check(E.ErrorCode = HRESULT($800A000D), Format('%s: SetCursorPosition(''abc'', ''def''): %.8x %s',
        [Where, E.ErrorCode, E.Message]));
  end;
end;

{ The control's own window, or 0 when it has none. }
function ControlWindow(Container: TActiveXContainer): HWND;
begin
  if Failed((Container.ComServer as IOleWindow).GetWindow(Result)) then
    Result := 0;
end;

{ How many different colours a grid of points of the window's client area shows. }
function ColoursSeen(Window: HWND; Width, Height: Integer): Integer;
var
  DC: HDC;
  Seen: array of COLORREF;
  Colour: COLORREF;
  X, Y, I: Integer;
  Known: Boolean;
begin
  SetLength(Seen, 0);
  DC := GetDC(Window);
  try
    for Y := 0 to 6 do
      for X := 0 to 6 do
      begin
        Colour := GetPixel(DC, 3 + X * (Width - 7) div 6, 3 + Y * (Height - 7) div 6);
        Known := False;
        for I := 0 to High(Seen) do
          Known := Known or (Seen[I] = Colour);
        if not Known then
        begin
          SetLength(Seen, Length(Seen) + 1);
          Seen[High(Seen)] := Colour;
        end;
      end;
  finally
    ReleaseDC(Window, DC);
  end;
  Result := Length(Seen);
end;

{ The colour of the face's top left pixel, in the frame around its picture. }
function FramePixel(Window: HWND): COLORREF;
var
  DC: HDC;
begin
  DC := GetDC(Window);
  Result := GetPixel(DC, 0, 0);
  ReleaseDC(Window, DC);
end;

{ Whether the control's client site is the container. }
function SitedIn(Container: TActiveXContainer): Boolean;
var
  Site: IOleClientSite;
begin
  Result := Succeeded((Container.ComServer as IOleObject).GetClientSite(Site)) and
    (Site = Container as IOleClientSite);
end;

procedure RunTime(Form: TForm);
var
  Container: TActiveXContainer;
begin
  Container := TActiveXContainer.Create(Form);
  try
    Container.SetBounds(8, 8, 64, 64);
    Container.OleClassName := ProgID;
    Container.Active := True;
    Application.ProcessMessages;
    Check(Assigned(Container.ComServer), 'run time: the container made the control');
    Check(SitedIn(Container), 'run time: the control is sited in the container');
    Check(ControlWindow(Container) = 0, 'run time: the control shows no window');
    Check(GetWindow(Container.Handle, GW_CHILD) = 0, 'run time: the container holds no child window');
    CallThrough(Container, 'run time');
    Container.Active := False;
    Check(not Assigned(Container.ComServer), 'run time: deactivating let the control go');
  finally
    Container.Free;
  end;
end;

procedure DesignTime(Form: TForm);
var
  Container: TActiveXContainer;
  Face: HWND;
  Area: TRect;
  Colours: Integer;
begin
  Container := TDesignTimeContainer.Create(Form);
  try
    Container.SetBounds(80, 8, 64, 64);
    Container.OleClassName := ProgID;
    Container.Active := True;
    Application.ProcessMessages;
    Check(SitedIn(Container), 'design time: the control is sited in the container');
    Face := ControlWindow(Container);
    Check(Face <> 0, 'design time: the control has a window');
    Check((Face <> 0) and (Windows.GetParent(Face) = Container.Handle) and IsWindowVisible(Face),
      'design time: its window is a visible child of the container');
    Windows.GetClientRect(Face, Area);
    Check((Area.Right = FaceSide) and (Area.Bottom = FaceSide),
      Format('design time: the face is %d x %d at %d dpi', [Area.Right, Area.Bottom, Screen.PixelsPerInch]));
    UpdateWindow(Face);
    Colours := ColoursSeen(Face, Area.Right, Area.Bottom);
    Check(Colours > 1, Format('design time: the face shows its picture (%d colours in 49 points)', [Colours]));
    Check(FramePixel(Face) = GetSysColor(COLOR_BTNFACE), 'design time: the picture sits in a frame of the button colour');
    CallThrough(Container, 'design time');
    Container.Active := False;
    Check(not IsWindow(Face), 'design time: deactivating destroyed the face window');
  finally
    Container.Free;
  end;
end;

var
  Form: TForm;

{ The control created, sited, in-place activated, called late-bound through the container, deactivated and freed:
  at run time it stays invisible, while designed its face paints its picture. The program ends by itself. }
begin
  Application.Initialize;
  Form := TForm.CreateNew(nil);
  try
    Form.SetBounds(100, 100, 240, 120);
    Form.Caption := 'lazarus_form';
    Form.Show;
    Application.ProcessMessages;
    Check(Screen.PixelsPerInch = 96, Format('the screen has %d dpi', [Screen.PixelsPerInch]));
    RunTime(Form);
    Check(OcxCanUnloadNow = S_OK, 'run time: DllCanUnloadNow is S_OK once the container is freed');
    DesignTime(Form);
    Check(OcxCanUnloadNow = S_OK, 'design time: DllCanUnloadNow is S_OK once the container is freed');
    CoFreeUnusedLibrariesEx(0, 0);
    Check(GetModuleHandleW('ZorvaneLib.ocx') = 0, 'CoFreeUnusedLibrariesEx unloaded the OCX');
  finally
    Form.Free;
  end;
  ExitCode := Finish;
end.
