       01 PAYREC.
          05 PAY-AMT PIC 9(5).
