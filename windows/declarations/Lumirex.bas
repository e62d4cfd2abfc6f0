Attribute VB_Name = "Lumirex"
' lumirex.dll for VB6 and VBA. VB6 and 32-bit Office load the x86 DLL,
' 64-bit Office the x64 one; put it beside the program or on its DLL path.
'
' IntegracaoLumirexOle returns a one-byte Boolean. VB's Boolean is two bytes:
' declared As Boolean, a true return reads with a stray high byte, and
' "If Not IntegracaoLumirexOle(...)" takes success for failure. It is declared
' As Byte here: compare it with 0.
'
' The parameter list is an array of Variant (any lower bound: its first
' element is element 0), the result an array of Variant the program sizes, 5
' elements for "CONSULTA" and 2 for the others; both are passed as they are,
' by reference, and the call writes the result's elements in place.
'
' Strings go over as Unicode. Call LumirexUseUtf8 once, before any other call,
' so that every letter a String can hold reaches the service whole; without
' it the library works in Windows-1252 and refuses a letter outside it.
Option Explicit

Public Type LumirexCallOutcome
    ErrorCode As Long   ' 0 when the call returned true, else one of LUMIREX_E_*
    HttpStatus As Long  ' status of the service's answer; 0 when none arrived
    Sent As Long        ' 1 once the request left the library
    Queued As Long      ' 1 when the report was kept in the outbox
End Type

#If VBA7 Then
Public Declare PtrSafe Function IntegracaoLumirexOle Lib "lumirex.dll" _
    (ByRef Params As Variant, ByRef Result As Variant) As Byte
Public Declare PtrSafe Function LumirexSetHostEncoding Lib "lumirex.dll" _
    (ByVal Name As String) As Long
Private Declare PtrSafe Function LumirexLastCall Lib "lumirex.dll" _
    (ByRef Outcome As LumirexCallOutcome, ByRef Message As Byte, ByVal Size As LongPtr) As Long
Private Declare PtrSafe Function MultiByteToWideChar Lib "kernel32" _
    (ByVal CodePage As Long, ByVal Flags As Long, ByRef Text As Byte, ByVal Length As Long, _
     ByVal Wide As LongPtr, ByVal WideLength As Long) As Long
#Else
Public Declare Function IntegracaoLumirexOle Lib "lumirex.dll" _
    (ByRef Params As Variant, ByRef Result As Variant) As Byte
Public Declare Function LumirexSetHostEncoding Lib "lumirex.dll" _
    (ByVal Name As String) As Long
Private Declare Function LumirexLastCall Lib "lumirex.dll" _
    (ByRef Outcome As LumirexCallOutcome, ByRef Message As Byte, ByVal Size As Long) As Long
Private Declare Function MultiByteToWideChar Lib "kernel32" _
    (ByVal CodePage As Long, ByVal Flags As Long, ByRef Text As Byte, ByVal Length As Long, _
     ByVal Wide As Long, ByVal WideLength As Long) As Long
#End If

Private Const CP_UTF8 As Long = 65001

' Texts in and out as UTF-8 inside the library. True when set.
Public Function LumirexUseUtf8() As Boolean
    LumirexUseUtf8 = LumirexSetHostEncoding("UTF-8") = 0
End Function

' What became of this thread's last call, and its message for the operator
' (empty after a true return). Call it after LumirexUseUtf8.
Public Function LumirexLastMessage(ByRef Outcome As LumirexCallOutcome) As String
    Dim Bytes(0 To 1023) As Byte
    Dim Length As Long
    Dim Text As String
    LumirexLastCall Outcome, Bytes(0), 1024
    Do While Length < 1024
        If Bytes(Length) = 0 Then Exit Do
        Length = Length + 1
    Loop
    If Length = 0 Then Exit Function
    Text = String$(Length, vbNullChar)
    Length = MultiByteToWideChar(CP_UTF8, 0, Bytes(0), Length, StrPtr(Text), Length)
    LumirexLastMessage = Left$(Text, Length)
End Function

' A customer query, as an example:
'   Dim Params As Variant, Result(0 To 4) As Variant, Outcome As LumirexCallOutcome
'   Params = Array("CONSULTA", "https://loyalty.example/api/", "12345678909", "", "", "")
'   If IntegracaoLumirexOle(Params, Result) = 0 Then
'       MsgBox LumirexLastMessage(Outcome)
'   ElseIf Result(0) Then
'       MsgBox Result(1)            ' the service said no, and why
'   Else
'       MsgBox Result(2) & ": " & Result(3)   ' the customer's name and balance
'   End If
