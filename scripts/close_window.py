#!/usr/bin/env python3
"""Asks every top-level window on the X display ($DISPLAY) to close, the way a window manager's
close button does (a WM_DELETE_WINDOW message), for a headless display that has no window manager.
Prints how many windows were asked; exits 1 when there was none."""
import ctypes
import ctypes.util
import sys

x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                           ctypes.POINTER(ctypes.c_ulong),
                           ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                           ctypes.POINTER(ctypes.c_uint)]
x11.XGetWMProtocols.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                ctypes.POINTER(ctypes.c_int)]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                           ctypes.c_void_p]
x11.XFree.argtypes = [ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]  # XEvent is 24 longs


CLIENT_MESSAGE = 33

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("no X display")
root = x11.XDefaultRootWindow(display)
wm_protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
wm_delete = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)

root_back, parent = ctypes.c_ulong(), ctypes.c_ulong()
children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
x11.XQueryTree(display, root, ctypes.byref(root_back), ctypes.byref(parent),
               ctypes.byref(children), ctypes.byref(count))
asked = 0
for i in range(count.value):
    window = children[i]
    protocols, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_int()
    if not x11.XGetWMProtocols(display, window, ctypes.byref(protocols), ctypes.byref(n)):
        continue
    wants_delete = any(protocols[k] == wm_delete for k in range(n.value))
    x11.XFree(protocols)
    if not wants_delete:
        continue
    event = ClientMessage(type=CLIENT_MESSAGE, send_event=1, display=display, window=window,
                          message_type=wm_protocols, format=32)
    event.data[0] = wm_delete
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    asked += 1
if children:
    x11.XFree(children)
x11.XFlush(display)
x11.XCloseDisplay(display)
print(f"asked {asked} window(s) to close")
sys.exit(0 if asked else 1)
