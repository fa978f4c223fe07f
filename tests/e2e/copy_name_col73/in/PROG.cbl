000100 COPY                                                        KP001SM2064
000200 01 Y PIC X.                                                      SM2064
000300                                                          COPY    AB12
           KP001.
