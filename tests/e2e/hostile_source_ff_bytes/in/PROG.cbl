ÿÿÿ
       COPY A.ÿ
ÿ