       01 ORD-REC.
          05 ORD-QTY          PIC 9(5).
          COPY DATEREC.
