// lumirex.dll for .NET (C#), x64 or x86 to match the process.
//
// IntegracaoLumirexOle returns a one-byte Boolean: marshalled as I1, not as
// the four-byte Win32 BOOL .NET assumes for a bool. The parameter list is an
// object[] and the result an object[] the program sizes, 5 elements for
// "CONSULTA" and 2 for the others; each goes as a VARIANT by reference, and
// the call writes the result's elements in place.
//
// UseUtf8 once, before any other call: strings then reach the service whole,
// and LumirexLastCall's message is UTF-8.
using System;
using System.Runtime.InteropServices;
using System.Text;

public static class Lumirex
{
    [StructLayout(LayoutKind.Sequential)]
    public struct CallOutcome
    {
        public int Error;       // 0 when the call returned true, else one of LUMIREX_E_*
        public int HttpStatus;  // status of the service's answer; 0 when none arrived
        public int Sent;        // 1 once the request left the library
        public int Queued;      // 1 when the report was kept in the outbox
    }

    [DllImport("lumirex.dll", CallingConvention = CallingConvention.StdCall)]
    [return: MarshalAs(UnmanagedType.I1)]
    public static extern bool IntegracaoLumirexOle(ref object parameters, ref object result);

    [DllImport("lumirex.dll", CallingConvention = CallingConvention.StdCall)]
    static extern int LumirexSetHostEncoding([MarshalAs(UnmanagedType.LPStr)] string name);

    [DllImport("lumirex.dll", CallingConvention = CallingConvention.StdCall)]
    static extern int LumirexLastCall(out CallOutcome outcome, byte[] message, UIntPtr size);

    public static bool UseUtf8() => LumirexSetHostEncoding("UTF-8") == 0;

    // What became of this thread's last call, and its message for the operator.
    public static string LastMessage(out CallOutcome outcome)
    {
        var message = new byte[1024];
        LumirexLastCall(out outcome, message, (UIntPtr)message.Length);
        int length = Array.IndexOf(message, (byte)0);
        return Encoding.UTF8.GetString(message, 0, length < 0 ? message.Length : length);
    }
}

// A customer query, as an example:
//   Lumirex.UseUtf8();
//   object parameters = new object[] { "CONSULTA", "https://loyalty.example/api/", "12345678909", "", "", "" };
//   object result = new object[5];
//   if (!Lumirex.IntegracaoLumirexOle(ref parameters, ref result))
//       Console.WriteLine(Lumirex.LastMessage(out _));
//   else if ((bool)((object[])result)[0]) Console.WriteLine(((object[])result)[1]);
//   else Console.WriteLine(((object[])result)[2]);
